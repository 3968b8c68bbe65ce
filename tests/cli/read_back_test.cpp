// status, wait-ready, firmware --wait-ready and the --device channel,
// end to end: the built tool against a printer that answers the status
// requests over TCP on 127.0.0.1 and over a pseudo terminal (opened as
// --serial and as --device).

#include "cli/cli_process.h"
#include "support/firmware_files.h"
#include "support/status_responder.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar::test {
namespace {

QStringList Words(std::initializer_list<const char *> words) {
  QStringList list;
  for (const char *word : words)
    list << QString::fromUtf8(word);
  return list;
}

enum class Channel { Tcp, Serial, Device };

QStringList ChannelOption(Channel channel, const StatusResponder &printer) {
  switch (channel) {
  case Channel::Tcp:
    return {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(printer.Port())};
  case Channel::Serial:
    return {QStringLiteral("--serial"), printer.PtyPath()};
  case Channel::Device:
    break;
  }
  return {QStringLiteral("--device"), printer.PtyPath()};
}

// A printer in each state, answering as the standard's bits say; the
// lines expected from those bits.
struct StateCase {
  const char *state;
  std::array<quint8, 4> answers;
  const char *lines;
  int exitCode;
};

const StateCase kStates[] = {
    {"ready",
     {0x12, 0x12, 0x12, 0x12},
     "online: yes\ncover: closed\npaper: ok\nfeed button: released\nerror: none\ndrawer: closed\n",
     0},
    // n=1 bit 3: offline.
    {"offline",
     {0x1A, 0x12, 0x12, 0x12},
     "online: no\ncover: closed\npaper: ok\nfeed button: released\nerror: none\ndrawer: closed\n",
     3},
    // Offline, n=2 bit 2: cover open.
    {"cover open",
     {0x1A, 0x16, 0x12, 0x12},
     "online: no\ncover: open\npaper: ok\nfeed button: released\nerror: none\ndrawer: closed\n",
     3},
    // n=4 bits 2 and 3: near end; it still prints.
    {"paper near end",
     {0x12, 0x12, 0x12, 0x1E},
     "online: yes\ncover: closed\npaper: near end\nfeed button: released\nerror: none\n"
     "drawer: closed\n",
     0},
    // Offline, n=2 bit 5 stopped by paper end, n=4 bits 5 and 6.
    {"paper out",
     {0x1A, 0x32, 0x12, 0x72},
     "online: no\ncover: closed\npaper: out\nfeed button: released\nerror: none\ndrawer: closed\n",
     3},
    // n=1 bit 2 pin 3 high, n=2 bit 3 feed button, n=3 bit 3 cutter.
    {"drawer open, feeding, cutter error",
     {0x16, 0x1A, 0x1A, 0x12},
     "online: yes\ncover: closed\npaper: ok\nfeed button: pressed\nerror: cutter\ndrawer: open\n",
     3},
};

class CliReadBackTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(printer_.Ok()); }

  CliResult Run(Channel channel, const QStringList &command,
                const QStringList &before = Words({"--timeout", "2"})) {
    return RunCliProcess(before + ChannelOption(channel, printer_) + command);
  }

  StatusResponder printer_;
};

TEST_F(CliReadBackTest, StatusOfEachStateOnEveryChannel) {
  for (const Channel channel : {Channel::Tcp, Channel::Serial, Channel::Device}) {
    for (const StateCase &c : kStates) {
      SCOPED_TRACE(::testing::Message() << c.state << " on channel " << int(channel));
      printer_.SetAnswers(c.answers);
      const CliResult result = Run(channel, Words({"status"}));
      EXPECT_EQ(result.exitCode, c.exitCode) << ::testing::PrintToString(result);
      EXPECT_EQ(result.out.toStdString(), c.lines);
      EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    }
  }
  EXPECT_TRUE(printer_.Received().contains(QByteArray::fromHex("100401100402100403100404")));
}

TEST_F(CliReadBackTest, JsonHasTheSameKeysAndValues) {
  printer_.SetAnswers(kStates[4].answers);
  const CliResult result = Run(Channel::Tcp, Words({"status", "--json"}));
  EXPECT_EQ(result.exitCode, 3) << ::testing::PrintToString(result);
  EXPECT_EQ(result.out.toStdString(),
            R"({"cover":"closed","drawer":"closed","error":"none","feed button":"released",)"
            R"("online":"no","paper":"out"})"
            "\n");
}

TEST_F(CliReadBackTest, UnaskedBytesAreReadPast) {
  // An automatic status block and XON/XOFF before every answer.
  printer_.SetUnasked(QByteArray::fromHex("1C 40 0F 60 11 13"));
  for (const Channel channel : {Channel::Tcp, Channel::Serial, Channel::Device}) {
    SCOPED_TRACE(int(channel));
    const CliResult result = Run(channel, Words({"status"}));
    EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
    EXPECT_EQ(result.out.toStdString(), kStates[0].lines);
  }
  // One that never stops sending unasked is given up on, not waited out.
  printer_.SetUnasked(QByteArray(5000, char(0x11)));
  const CliResult result = Run(Channel::Tcp, Words({"status"}), Words({"--timeout", "30"}));
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(
      QStringLiteral("no answer to DLE EOT 1 among more than 4096 bytes it sent unasked (11 11")))
      << result.err.toStdString();
}

TEST_F(CliReadBackTest, SilenceAndWrongBitsAreNoAnswer) {
  for (const Channel channel : {Channel::Tcp, Channel::Serial, Channel::Device}) {
    SCOPED_TRACE(int(channel));
    printer_.SetSilent(true);
    QElapsedTimer clock;
    clock.start();
    CliResult result = Run(channel, Words({"status"}), Words({"--timeout", "0.5"}));
    EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.errText().contains(QStringLiteral("no answer to DLE EOT 1 within 0.5 s")))
        << result.err.toStdString();
    EXPECT_LT(clock.elapsed(), 5000);

    printer_.SetSilent(false);
    printer_.SetAnswers({0x12, 0xFF, 0x12, 0x12});
    result = Run(channel, Words({"status"}));
    EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.errText().contains(QStringLiteral("the answer to DLE EOT 2 is FF, whose "
                                                         "fixed bits are wrong")))
        << result.err.toStdString();
    EXPECT_TRUE(result.errText().contains(QStringLiteral("not trusted")));
  }
}

TEST_F(CliReadBackTest, FirmwareWaitReadyFollowsAPrinterThatRestarts) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("printer.bin"));
  const QByteArray file = WriteValidFirmware(path, 256 * 1024, 5);
  const QByteArray image = ExpectedFirmwareImage(file);
  // Takes the image, drops the connection, and listens again 2 s later.
  constexpr int kDownMs = 2000;
  printer_.RestartAfter(image.size(), kDownMs);
  QElapsedTimer clock;
  clock.start();
  const CliResult result =
      Run(Channel::Tcp,
          {QStringLiteral("firmware"), path, QStringLiteral("--wait-ready"), QStringLiteral("20")});
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  EXPECT_TRUE(printer_.Received().startsWith(image));
  EXPECT_EQ(printer_.Restarts(), 1);
  EXPECT_GE(printer_.Connections(), 2);
  const QRegularExpressionMatch took =
      QRegularExpression(QStringLiteral("^ready after ([0-9.]+) s\n$")).match(result.outText());
  ASSERT_TRUE(took.hasMatch()) << result.out.toStdString();
  EXPECT_GE(took.captured(1).toDouble(), kDownMs / 1000.0 - 0.5);
  EXPECT_LT(clock.elapsed(), 15000);
}

TEST_F(CliReadBackTest, WaitReadyGivesUpWithTheLastAnswer) {
  printer_.SetAnswers(kStates[2].answers); // cover open, for good
  QElapsedTimer clock;
  clock.start();
  const CliResult result = Run(Channel::Device, Words({"wait-ready", "--within", "1.5"}));
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.out.isEmpty());
  EXPECT_TRUE(result.errText().contains(
      QStringLiteral("not ready within 1.5 s; last: it answers that it is not ready (offline, "
                     "cover open)")))
      << result.err.toStdString();
  EXPECT_LT(clock.elapsed(), 5000);

  printer_.SetAnswers(kStates[0].answers);
  const CliResult ready = Run(Channel::Serial, Words({"wait-ready"}));
  EXPECT_EQ(ready.exitCode, 0) << ::testing::PrintToString(ready);
  EXPECT_TRUE(ready.outText().startsWith(QStringLiteral("ready after ")))
      << ready.out.toStdString();
}

TEST_F(CliReadBackTest, UsageThatCannotWorkIsRefused) {
  QTemporaryDir folder;
  const QString firmware = folder.filePath(QStringLiteral("printer.bin"));
  WriteValidFirmware(firmware, 1024);
  const QString file = folder.filePath(QStringLiteral("out.bin"));
  const std::vector<std::pair<QStringList, const char *>> cases = {
      {Words({"--queue", "receipt", "status"}), "a print queue cannot carry them back"},
      {QStringList{QStringLiteral("--output"), file, QStringLiteral("wait-ready")},
       "--output only writes"},
      {QStringList{QStringLiteral("--queue"), QStringLiteral("receipt"), QStringLiteral("firmware"),
                   firmware, QStringLiteral("--wait-ready")},
       "firmware --wait-ready reads the printer's answers"},
      {QStringList{QStringLiteral("firmware"), firmware, QStringLiteral("--wait-ready"),
                   QStringLiteral("5")},
       "needs a printer to wait for"},
      {Words({"--tcp", "127.0.0.1:1", "status", "--yaml"}), "status: unknown option '--yaml'"},
      {Words({"--tcp", "127.0.0.1:1", "wait-ready", "--within", "0"}),
       "--within: '0' is not a number of seconds"},
  };
  for (const auto &[arguments, message] : cases) {
    SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
    const CliResult result = RunCliProcess(arguments);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.errText().contains(QString::fromUtf8(message))) << result.err.toStdString();
  }
  EXPECT_FALSE(QFile::exists(file));
  // Without a channel, the requests are shown.
  const CliResult dry = RunCliProcess(Words({"status"}));
  EXPECT_EQ(dry.exitCode, 0);
  EXPECT_EQ(dry.out.toStdString(), "DLE EOT 1\t10 04 01\nDLE EOT 2\t10 04 02\nDLE EOT 3\t10 04 03\n"
                                   "DLE EOT 4\t10 04 04\n");
}

TEST(CliReadBackHelpTest, HelpDescribesTheReadBack) {
  const QString tool = RunCliProcess(Words({"--help"})).outText();
  for (const char *part : {"--device PATH", "status [--json]", "wait-ready [--within SECONDS]",
                           "firmware FILE.bin [--wait-ready [SECONDS]]", "3 (status)"})
    EXPECT_TRUE(tool.contains(QString::fromUtf8(part))) << part;
}

TEST_F(CliReadBackTest, DeviceChannelWritesEverythingInOrder) {
  const QStringList base = Words({"base", "--cutter", "off", "--font", "b"});
  const QByteArray expected = DryRunBytes(base);
  ASSERT_FALSE(expected.isEmpty());
  CliResult result = Run(Channel::Device, base);
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  EXPECT_EQ(printer_.Received().toHex(' ').toStdString(), expected.toHex(' ').toStdString());

  // A long transfer, then the wait for the printer, both over the device.
  QTemporaryDir folder;
  const QString firmware = folder.filePath(QStringLiteral("printer.bin"));
  const QByteArray image = ExpectedFirmwareImage(WriteValidFirmware(firmware, 100 * 1024, 7));
  result =
      Run(Channel::Device, {QStringLiteral("firmware"), firmware, QStringLiteral("--wait-ready")});
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.outText().startsWith(QStringLiteral("ready after ")))
      << result.out.toStdString();
  EXPECT_TRUE(printer_.Received().mid(expected.size()).startsWith(image));

  const QString plain = folder.filePath(QStringLiteral("plain.bin"));
  ASSERT_TRUE(WriteFileBytes(plain, "x"));
  result = RunCliProcess(QStringList{QStringLiteral("--device"), plain} + base);
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(plain + QStringLiteral(": not a device")))
      << result.err.toStdString();

  // Character devices that are not terminals: one that takes everything
  // and says nothing, one that answers zeros.
  result =
      RunCliProcess(QStringList{QStringLiteral("--device"), QStringLiteral("/dev/null")} + base);
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  result = RunCliProcess(Words({"--device", "/dev/null", "status"}));
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(QStringLiteral("/dev/null: the device hung up")))
      << result.err.toStdString();
  result = RunCliProcess(Words({"--device", "/dev/zero", "status"}));
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(
      result.errText().contains(QStringLiteral("DLE EOT 1 is 00, whose fixed bits are wrong")))
      << result.err.toStdString();
}

} // namespace
} // namespace pellicar::test
