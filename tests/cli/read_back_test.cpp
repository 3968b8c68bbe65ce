// status, wait-ready, firmware --wait-ready and the --device channel,
// end to end: the built tool against pellicar-printer, and against a
// responder for what that printer never does (wrong bits, silence, bytes
// nobody asked for), over TCP on 127.0.0.1 and over a pseudo terminal
// (opened as --serial and as --device).

#include "cli/cli_process.h"
#include "support/firmware_files.h"
#include "support/printer_process.h"
#include "support/status_responder.h"
#include "support/wait.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar::test {
namespace {

enum class Channel { Tcp, Serial, Device };

// What a printer in each condition reports, written from the meaning of
// the status bits: offline is n=1 bit 3, cover open n=2 bit 2, paper near
// end n=4 bits 2-3, paper out n=4 bits 5-6 (and n=2 bit 5); a printer with
// its cover open or out of paper is offline too. Paper near its end still
// prints.
struct StateCase {
  const char *status; // pellicar-printer --status
  const char *lines;
  int exitCode;
};

const StateCase kStates[] = {
    {"ready",
     "online: yes\ncover: closed\npaper: ok\nfeed button: released\nerror: none\ndrawer: closed\n",
     0},
    {"offline",
     "online: no\ncover: closed\npaper: ok\nfeed button: released\nerror: none\ndrawer: closed\n",
     3},
    {"cover-open",
     "online: no\ncover: open\npaper: ok\nfeed button: released\nerror: none\ndrawer: closed\n", 3},
    {"paper-near-end",
     "online: yes\ncover: closed\npaper: near end\nfeed button: released\nerror: none\n"
     "drawer: closed\n",
     0},
    {"paper-out",
     "online: no\ncover: closed\npaper: out\nfeed button: released\nerror: none\ndrawer: closed\n",
     3},
};

const Channel kChannels[] = {Channel::Tcp, Channel::Serial, Channel::Device};

QStringList ChannelOption(Channel channel, quint16 port, const QString &pty) {
  switch (channel) {
  case Channel::Tcp:
    return {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(port)};
  case Channel::Serial:
    return {QStringLiteral("--serial"), pty};
  case Channel::Device:
    break;
  }
  return {QStringLiteral("--device"), pty};
}

TEST(CliReadBackPrinterTest, StatusOfEachConditionOnEveryChannel) {
  for (const StateCase &c : kStates) {
    PrinterProcess printer;
    ASSERT_TRUE(printer.Start({QStringLiteral("--status"), QString::fromLatin1(c.status)}))
        << printer.Message().toStdString();
    for (const Channel channel : kChannels) {
      SCOPED_TRACE(::testing::Message() << c.status << " on channel " << int(channel));
      const CliResult result = RunCliProcess(
          ChannelOption(channel, printer.Port(), printer.SerialPath()) + Words({"status"}));
      EXPECT_EQ(result.exitCode, c.exitCode) << ::testing::PrintToString(result);
      EXPECT_EQ(result.out.toStdString(), c.lines);
      EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    }
    if (QLatin1String(c.status) == QLatin1String("paper-out")) {
      const CliResult json = RunCliProcess(ChannelOption(Channel::Tcp, printer.Port(), {}) +
                                           Words({"status", "--json"}));
      EXPECT_EQ(json.exitCode, 3) << ::testing::PrintToString(json);
      EXPECT_EQ(json.out.toStdString(),
                R"({"cover":"closed","drawer":"closed","error":"none","feed button":"released",)"
                R"("online":"no","paper":"out"})"
                "\n");
    }
  }
}

TEST(CliReadBackPrinterTest, APrinterThatStopsOrBreaksOffGivesNoAnswer) {
  struct Case {
    QStringList printer;
    Channel channel;
    const char *message;
  };
  const Case cases[] = {
      {Words({"--stop-reading-after", "6"}), Channel::Tcp, "no answer to DLE EOT 3 within 0.5 s"},
      {Words({"--stop-reading-after", "0"}), Channel::Serial,
       "no answer to DLE EOT 1 within 0.5 s"},
      {Words({"--reset-after", "3"}), Channel::Tcp, "Connection reset by peer"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.printer.join(QLatin1Char(' ')).toStdString());
    PrinterProcess printer;
    ASSERT_TRUE(printer.Start(c.printer)) << printer.Message().toStdString();
    QElapsedTimer clock;
    clock.start();
    const CliResult result = RunCliProcess(
        Words({"--timeout", "0.5"}) +
        ChannelOption(c.channel, printer.Port(), printer.SerialPath()) + Words({"status"}));
    EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.errText().contains(QString::fromUtf8(c.message)))
        << result.err.toStdString();
    EXPECT_LT(clock.elapsed(), 5000);
  }
}

// The printer takes the firmware, goes away (it stops listening), and a
// few seconds later listens again on the same port; until it goes away it
// answers that it is offline.
TEST(CliReadBackPrinterTest, FirmwareWaitReadyFollowsAPrinterThatRestarts) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("printer.bin"));
  ASSERT_FALSE(WriteValidFirmware(path, 256 * 1024, 5).isEmpty());
  auto before = std::make_unique<PrinterProcess>();
  ASSERT_TRUE(before->Start(Words({"--status", "offline"}))) << before->Message().toStdString();
  const quint16 port = before->Port();

  QProcess cli;
  cli.start(CliPath(), ChannelOption(Channel::Tcp, port, {}) +
                           QStringList{QStringLiteral("firmware"), path,
                                       QStringLiteral("--wait-ready"), QStringLiteral("30")});
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(WaitUntil(
      [&] { return before->Log().join(u'\n').contains(QStringLiteral("Firmware upload:")); },
      20000));
  EXPECT_TRUE(before->Log().join(u'\n').contains(QStringLiteral("check passed")))
      << before->Log().join(u'\n').toStdString();
  before.reset(); // stops it
  constexpr int kDownMs = 2000;
  RunEventLoopFor(kDownMs);
  PrinterProcess after;
  ASSERT_TRUE(after.Start({QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(port)}))
      << after.Message().toStdString();

  ASSERT_TRUE(WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, 30000));
  const QString out = QString::fromUtf8(cli.readAllStandardOutput());
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  const QRegularExpressionMatch took =
      QRegularExpression(QStringLiteral("^ready after ([0-9.]+) s\n$")).match(out);
  ASSERT_TRUE(took.hasMatch()) << out.toStdString();
  // The wait began about when the first printer stopped.
  EXPECT_GE(took.captured(1).toDouble(), kDownMs / 1000.0 - 0.5);
  EXPECT_LE(took.captured(1).toDouble(), clock.elapsed() / 1000.0);
  EXPECT_TRUE(after.Log().join(u'\n').contains(QStringLiteral("Status request 4")));
}

class CliReadBackTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(printer_.Ok()); }

  CliResult Run(Channel channel, const QStringList &command,
                const QStringList &before = Words({"--timeout", "2"})) {
    return RunCliProcess(before + ChannelOption(channel, printer_.Port(), printer_.PtyPath()) +
                         command);
  }

  StatusResponder printer_;
};

TEST_F(CliReadBackTest, BitsAVirtualPrinterDoesNotSetAndBytesNobodyAskedFor) {
  // n=1 bit 2 (pin 3 high), n=2 bit 3 (feed button), n=3 bit 3 (cutter);
  // an automatic status block and XON/XOFF before every answer.
  printer_.SetAnswers({0x16, 0x1A, 0x1A, 0x12});
  printer_.SetUnasked(QByteArray::fromHex("1C 40 0F 60 11 13"));
  for (const Channel channel : kChannels) {
    SCOPED_TRACE(int(channel));
    const CliResult result = Run(channel, Words({"status"}));
    EXPECT_EQ(result.exitCode, 3) << ::testing::PrintToString(result);
    EXPECT_EQ(result.out.toStdString(), "online: yes\ncover: closed\npaper: ok\nfeed button: "
                                        "pressed\nerror: cutter\ndrawer: open\n");
  }
  EXPECT_TRUE(printer_.Received().contains(QByteArray::fromHex("100401100402100403100404")));
  // One that never stops sending unasked is given up on, not waited out.
  printer_.SetUnasked(QByteArray(5000, char(0x11)));
  const CliResult result = Run(Channel::Tcp, Words({"status"}), Words({"--timeout", "30"}));
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(
      QStringLiteral("no answer to DLE EOT 1 among more than 4096 bytes it sent unasked (11 11")))
      << result.err.toStdString();
}

TEST_F(CliReadBackTest, SilenceAndWrongBitsAreNoAnswer) {
  for (const Channel channel : kChannels) {
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

// A printer that answers each question after 0.4 s: --timeout bounds the
// whole status exchange (four questions), and --within the whole wait,
// which ends neither before its bound nor much after it.
TEST_F(CliReadBackTest, BoundsHoldForTheWholeExchangeAndTheWholeWait) {
  printer_.SetAnswerDelay(400);
  struct Row {
    QStringList before;
    QStringList command;
    int exitCode;
    const char *said;
    qint64 atLeastMs;
    qint64 underMs;
  };
  const Row rows[] = {
      {Words({"--timeout", "1"}), Words({"status"}), 1, "no answer to DLE EOT 3 within 1 s", 900,
       1800},
      {Words({"--timeout", "3"}), Words({"status"}), 0, "", 1500, 2800},
      {Words({"--timeout", "1"}), Words({"wait-ready", "--within", "2.5"}), 1,
       "not ready within 2.5 s; last: no answer to DLE EOT 3 within 1 s", 2500, 3300},
      {Words({"--timeout", "3"}), Words({"wait-ready", "--within", "2.5"}), 0, "", 1500, 2500},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE((row.before + row.command).join(u' ').toStdString());
    QElapsedTimer clock;
    clock.start();
    const CliResult result = Run(Channel::Tcp, row.command, row.before);
    const qint64 took = clock.elapsed();
    EXPECT_EQ(result.exitCode, row.exitCode) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.errText().contains(QString::fromUtf8(row.said))) << result.err.toStdString();
    EXPECT_GE(took, row.atLeastMs);
    EXPECT_LT(took, row.underMs);
  }
}

TEST_F(CliReadBackTest, WaitReadyGivesUpWithTheLastAnswer) {
  printer_.SetAnswers({0x1A, 0x16, 0x12, 0x12}); // cover open, for good
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

  printer_.SetAnswers({0x12, 0x12, 0x12, 0x12});
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
  // This printer never restarts: its "ready" counts only after the grace
  // (half of the 2 s here), and the tool says that no restart was seen.
  QTemporaryDir folder;
  const QString firmware = folder.filePath(QStringLiteral("printer.bin"));
  const QByteArray image = ExpectedFirmwareImage(WriteValidFirmware(firmware, 100 * 1024, 7));
  result = Run(Channel::Device, {QStringLiteral("firmware"), firmware,
                                 QStringLiteral("--wait-ready"), QStringLiteral("2")});
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  const QRegularExpressionMatch took =
      QRegularExpression(QStringLiteral("^ready after ([0-9.]+) s \\(it answered ready "
                                        "throughout; it was not seen restarting\\)\n$"))
          .match(result.outText());
  ASSERT_TRUE(took.hasMatch()) << result.out.toStdString();
  EXPECT_GE(took.captured(1).toDouble(), 1.0);
  EXPECT_TRUE(printer_.Received().mid(expected.size()).startsWith(image));

  const QString plain = folder.filePath(QStringLiteral("plain.bin"));
  ASSERT_TRUE(WriteFileBytes(plain, "x"));
  result = RunCliProcess(QStringList{QStringLiteral("--device"), plain} + base);
  EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(plain + QStringLiteral(" is a regular file, not a device")))
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
