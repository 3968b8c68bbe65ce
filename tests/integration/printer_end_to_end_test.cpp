// pellicar-cli against pellicar-printer, both the built programs, through
// each channel: TCP, the printer's pseudo terminal as a serial port, and a
// raw queue of a private print server delivering to the printer's port.
// The expected log lines and state are written from the command rules.

#include "cli/cli_process.h"
#include "support/bmp_writer.h"
#include "support/firmware_files.h"
#include "support/json_path.h"
#include "support/printer_process.h"
#include "support/private_cups.h"

#include "support/wait.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace pellicar::test {
namespace {

using ::testing::ElementsAreArray;

enum class Channel { Tcp, Serial, Queue };

const QString kQueue = QStringLiteral("receipt");

struct Step {
  QStringList command;
  QStringList log;
  bool overSerial = true; // logos and firmware are refused on a serial port
};

// A 20 × 11 picture with dots on a slanted pattern and down its right edge,
// so that a lost column, row or bit shows.
QImage PatternPicture() {
  QImage picture(20, 11, QImage::Format_RGB32);
  picture.fill(Qt::white);
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if ((x + 2 * y) % 5 == 0 || x == 19)
        picture.setPixel(x, y, qRgb(0, 0, 0));
  return picture;
}

class PrinterEndToEndTest : public ::testing::TestWithParam<Channel> {
protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    ASSERT_TRUE(printer_.Start()) << printer_.Message().toStdString();
    if (GetParam() == Channel::Queue) {
      const PrivateCups::Status started = cups_.Start();
      if (started == PrivateCups::Status::Unavailable)
        GTEST_SKIP() << cups_.Message().toStdString();
      ASSERT_EQ(started, PrivateCups::Status::Running) << cups_.Message().toStdString();
      QString error;
      ASSERT_TRUE(cups_.AddRawQueue(kQueue, printer_.Port(), &error)) << error.toStdString();
    }
  }

  QStringList ChannelArguments() const {
    switch (GetParam()) {
    case Channel::Tcp:
      return {QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(printer_.Port())};
    case Channel::Serial:
      return {QStringLiteral("--serial"), printer_.SerialPath()};
    case Channel::Queue:
      return {QStringLiteral("--queue"), kQueue};
    }
    return {};
  }

  QString File(const QString &name, const QByteArray &bytes) {
    return SaveFile(folder_.path(), name, bytes);
  }

  QTemporaryDir folder_;
  PrinterProcess printer_;
  PrivateCups cups_;
};

TEST_P(PrinterEndToEndTest, EveryCommandGivesItsLogAndState) {
  const QImage pattern = PatternPicture();
  QImage dot(1, 1, QImage::Format_RGB32);
  dot.fill(Qt::black);
  const QString patternFile = File(QStringLiteral("pattern.bmp"), WriteBmp(pattern, {}));
  const QString dotFile = File(QStringLiteral("dot.bmp"), WriteBmp(dot, {}));
  const QString firmwareFile = folder_.filePath(QStringLiteral("printer.bin"));
  ASSERT_FALSE(WriteValidFirmware(firmwareFile, 10000, 9).isEmpty());

  const auto words = [](std::initializer_list<const char *> list) {
    QStringList result;
    for (const char *word : list)
      result << QString::fromUtf8(word);
    return result;
  };
  const std::vector<Step> steps = {
      {words(
           {"base", "--baud", "1200", "--codepage", "Cp874", "--cutter", "off", "--reprint", "on"}),
       {"Base Parameter: 1200 baud, parity none, cutter off, buzzer on, drawer on, 48 characters "
        "per line, density normal, code page 47 (Cp874), font A",
        "Auto Reprint: on", "Buzz After Printing: off"}},
      {words({"selftest"}), {"SelfTest: printed page 1 (page-1.png)"}},
      {words({"ip", "10.0.0.$FF"}), {"Set IP: 10.0.0.255"}},
      {words({"mac", "100.101.102.103.104"}), {"Set MAC: 00:64:65:66:67:68"}},
      {words({"speed", "10-half"}), {"Set Speed: 10M Half Duplex"}},
      {words({"wifi", "--ssid", "shop", "--wpa2", "secret-key"}),
       {"Set WIFI: SSID \"shop\", WPA2-PSK, AES, key \"secret-key\""}},
      {words({"wifi", "--ssid", "café", "--wep-share", "abcde"}),
       {"Set WIFI: SSID \"café\", WEP share, key \"abcde\""}},
      {words({"blackmark", "enable"}), {"Black Mark: on"}},
      {words({"blackmark", "pitch", "300"}), {"Set BM Length: 2400 dots (300 mm)"}},
      {words({"blackmark", "width", "10"}), {"Set BM Width: 80 dots (10 mm)"}},
      {words({"blackmark", "print-offset", "5"}), {"Set BM Print Offset: 40 dots (5 mm)"}},
      {words({"blackmark", "cut-offset", "0"}), {"Set BM Cut Offset: 0 dots (0 mm)"}},
      {words({"blackmark", "next-mark"}),
       {"Line: \"HELLO WORLD!\"", "Form feed, printed page 2 (page-2.png)"}},
      {words({"blackmark", "next-cut"}), {"Cut: full"}},
      {words({"blackmark", "disable"}), {"Black Mark: off"}},
      // Records of 4 + 8·3·2 and 4 + 8·1·1 bytes after the command's 3.
      {QStringList{QStringLiteral("logo"), patternFile, dotFile},
       {"Logos stored: 2 (67 bytes)"},
       false},
      {QStringList{QStringLiteral("firmware"), firmwareFile},
       {"Firmware upload: 10,000 bytes, check passed"},
       false},
  };

  const bool serial = GetParam() == Channel::Serial;
  for (const Step &step : steps) {
    if (serial && !step.overSerial)
      continue;
    SCOPED_TRACE(step.command.join(QLatin1Char(' ')).toStdString());
    const qsizetype before = printer_.Log().size();
    const CliResult result = RunCliProcess(ChannelArguments() + step.command);
    ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
    EXPECT_TRUE(printer_.WaitForLog(before + step.log.size()));
    EXPECT_THAT(printer_.Log().mid(before), ElementsAreArray(step.log));
  }

  const QJsonObject state = printer_.State();
  std::vector<std::pair<const char *, QJsonValue>> expected = {
      {"base.baudRate", 1200},
      {"base.cutter", false},
      {"base.reprint", true},
      {"base.codePage", 47},
      {"base.codePageName", "Cp874"},
      {"ethernet.ip", "10.0.0.255"},
      {"ethernet.mac", "00:64:65:66:67:68"},
      {"ethernet.speed", "10M Half Duplex"},
      {"wifi.ssid", "café"},
      {"wifi.security", "wep-share"},
      {"wifi.cipher", QJsonValue()},
      {"wifi.key", "abcde"},
      {"blackMark.enabled", false},
      {"blackMark.pitchDots", 2400},
      {"blackMark.widthDots", 80},
      {"blackMark.printOffsetDots", 40},
      {"blackMark.cutOffsetDots", 0},
      {"counters.selfTests", 1},
      {"counters.cuts", 1},
      {"counters.formFeeds", 1},
      {"counters.unknownBytes", 0},
  };
  if (serial) {
    expected.push_back({"logos", QJsonValue()});
    expected.push_back({"firmware", QJsonValue()});
  } else {
    expected.push_back({"logos.0.widthDots", 24});
    expected.push_back({"logos.0.heightDots", 16});
    expected.push_back({"logos.1.png", "logo-2.png"});
    expected.push_back({"firmware.check", "passed"});
    expected.push_back({"firmware.bytes", 10000});
  }
  for (const auto &[path, value] : expected)
    EXPECT_EQ(JsonText(JsonAt(state, QString::fromLatin1(path))), JsonText(value)) << path;

  const QImage selfTest(QDir(printer_.OutDir()).filePath(QStringLiteral("page-1.png")));
  EXPECT_EQ(selfTest.width(), 576);
  EXPECT_FALSE(QImage(QDir(printer_.OutDir()).filePath(QStringLiteral("page-2.png"))).isNull());
  if (serial)
    return;

  // The stored logos as they print, dot for dot: the bitmap's black pixels,
  // white padding up to whole bytes.
  const QList<std::pair<QString, QImage>> logos = {{QStringLiteral("logo-1.png"), pattern},
                                                   {QStringLiteral("logo-2.png"), dot}};
  for (const auto &[name, sent] : logos) {
    SCOPED_TRACE(name.toStdString());
    const QImage stored(QDir(printer_.OutDir()).filePath(name));
    ASSERT_EQ(stored.size(), QSize((sent.width() + 7) / 8 * 8, (sent.height() + 7) / 8 * 8));
    int wrong = 0;
    for (int y = 0; y < stored.height(); ++y)
      for (int x = 0; x < stored.width(); ++x) {
        const bool expectedDot =
            x < sent.width() && y < sent.height() && sent.pixel(x, y) != qRgb(255, 255, 255);
        wrong += (qGray(stored.pixel(x, y)) < 128) != expectedDot;
      }
    EXPECT_EQ(wrong, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Channels, PrinterEndToEndTest,
                         ::testing::Values(Channel::Tcp, Channel::Serial, Channel::Queue),
                         [](const ::testing::TestParamInfo<Channel> &param) {
                           switch (param.param) {
                           case Channel::Tcp:
                             return "Tcp";
                           case Channel::Serial:
                             return "Serial";
                           case Channel::Queue:
                             return "Queue";
                           }
                           return "";
                         });

// The command line: mistakes are refused with the reason, before anything
// is opened.
TEST(PrinterUsageTest, RefusesMistakesAndAnswersHelpAndVersion) {
  struct Row {
    QStringList arguments;
    int exitCode;
    const char *stdoutHas;
    const char *stderrHas;
  };
  const Row rows[] = {
      {{QStringLiteral("--version")}, 0, "pellicar-printer 1.83", ""},
      {{QStringLiteral("--help")}, 0, "--stop-reading-after BYTES", ""},
      // Names are never looked up.
      {{QStringLiteral("--tcp"), QStringLiteral("localhost:9100")}, 2, "", "--tcp needs"},
      {{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:65536")}, 2, "", "--tcp needs"},
      {{QStringLiteral("--status"), QStringLiteral("jammed")}, 2, "", "--status needs one of"},
      {{QStringLiteral("--read-delay"), QStringLiteral("60001")}, 2, "", "--read-delay needs"},
      {{QStringLiteral("--reset-after")}, 2, "", "--reset-after needs"},
      {{QStringLiteral("--colour")}, 2, "", "unknown option '--colour'"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.arguments.join(u' ').toStdString());
    QProcess process;
    process.start(PrinterProcess::ProgramPath(), row.arguments);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), row.exitCode);
    EXPECT_TRUE(process.readAllStandardOutput().contains(row.stdoutHas));
    EXPECT_TRUE(process.readAllStandardError().contains(row.stderrHas));
  }
}

// The fault modes, as the command-line tool meets them over TCP. The
// printer's small receive buffer acknowledges little beyond what it has
// read, so bytes cut off by a reset or left unread fail the command, with
// the count the printer's side acknowledged: at least what it read, far
// from the whole.
TEST(PrinterFaultTest, ResetSlowReaderAndStoppedReader) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString large = folder.filePath(QStringLiteral("large.bin"));
  const QString small = folder.filePath(QStringLiteral("small.bin"));
  ASSERT_FALSE(WriteValidFirmware(large, 200000, 4).isEmpty());
  ASSERT_FALSE(WriteValidFirmware(small, 20000, 6).isEmpty());
  // The upload's command is 6 bytes.
  const qint64 largeTotal = 200006;
  struct Row {
    QStringList printer;
    QStringList command;
    int exitCode;
    // The message's pattern; empty: no message.
    QString said;
    // With a count in the message (its first group): what the printer read.
    qint64 readByPrinter;
    QStringList log;
  };
  const Row rows[] = {
      // The 6 bytes of the upload's command, then 994 of the file.
      {{QStringLiteral("--reset-after"), QStringLiteral("1000")},
       {QStringLiteral("firmware"), large},
       1,
       QStringLiteral("the connection ended before the printer had everything \\(it has (\\d+) "
                      "of %1 bytes\\): (the connection broke|sending failed): ")
           .arg(largeTotal),
       1000,
       {"Reset the connection after 1,000 bytes (--reset-after)",
        "Firmware upload: 994 of 200,000 bytes, check failed: the data ended early"}},
      {{QStringLiteral("--read-delay"), QStringLiteral("5")},
       {QStringLiteral("firmware"), small},
       0,
       QString(),
       0,
       {"Firmware upload: 20,000 bytes, check passed"}},
      // Slow but steady: 80 KB/s takes 2.5 s, longer than the bound.
      {{QStringLiteral("--read-delay"), QStringLiteral("50")},
       {QStringLiteral("firmware"), large},
       0,
       QString(),
       0,
       {"Firmware upload: 200,000 bytes, check passed"}},
      // The rest stays unread, and the tool's bound on a stall runs out.
      {{QStringLiteral("--stop-reading-after"), QStringLiteral("11")},
       {QStringLiteral("firmware"), large},
       1,
       QStringLiteral("the printer took no data for 1 s; it has (\\d+) of %1 bytes")
           .arg(largeTotal),
       11,
       {"Stopped reading the connection after 11 bytes (--stop-reading-after)"}},
      // The printer's side acknowledges all 17 bytes of the base
      // parameters; the reset throws 12 away (or, should it come before
      // the last of them arrived, those never arrive).
      {{QStringLiteral("--reset-after"), QStringLiteral("5")},
       {QStringLiteral("base")},
       1,
       QStringLiteral("the printer acknowledged all 17 bytes but may have thrown away some it "
                      "had not read: |the connection ended before the printer had everything"),
       -1,
       {"Reset the connection after 5 bytes (--reset-after)",
        "Incomplete command at the end of the data (5 bytes): 1f 73 02 00 00"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.printer.join(u' ').toStdString());
    PrinterProcess printer;
    ASSERT_TRUE(printer.Start(row.printer)) << printer.Message().toStdString();
    const CliResult result = RunCliProcess(
        QStringList{QStringLiteral("--timeout"), QStringLiteral("1"), QStringLiteral("--tcp"),
                    QStringLiteral("127.0.0.1:%1").arg(printer.Port())} +
        row.command);
    EXPECT_EQ(result.exitCode, row.exitCode) << ::testing::PrintToString(result);
    if (row.said.isEmpty()) {
      EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    } else {
      const QRegularExpressionMatch match = QRegularExpression(row.said).match(result.errText());
      ASSERT_TRUE(match.hasMatch()) << result.err.toStdString();
      if (row.readByPrinter >= 0) {
        // A printer's few KiB beyond what it read, not the system's megabytes.
        const qint64 has = match.captured(1).toLongLong();
        EXPECT_GE(has, row.readByPrinter);
        EXPECT_LE(has, row.readByPrinter + 16 * 1024);
      }
    }
    EXPECT_TRUE(printer.WaitForLog(row.log.size()));
    EXPECT_THAT(printer.Log(), ElementsAreArray(row.log));
    EXPECT_EQ(printer.Stop(), 0);
  }
}

// Sends `request` on `fd` and reads `count` bytes back, within `timeoutMs`.
QByteArray Ask(int fd, const QByteArray &request, qsizetype count, int timeoutMs = 5000) {
  if (::write(fd, request.constData(), std::size_t(request.size())) != request.size())
    return {};
  QByteArray answer;
  QDeadlineTimer deadline(timeoutMs);
  while (answer.size() < count && !deadline.hasExpired()) {
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, int(deadline.remainingTime())) <= 0)
      break;
    char buffer[16];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0)
      break;
    answer.append(buffer, n);
  }
  return answer;
}

// Status requests are answered on the channel that asked, as --status says.
TEST(PrinterStatusTest, AnswersOnTcpAndThePseudoTerminal) {
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start({QStringLiteral("--status"), QStringLiteral("paper-out")}))
      << printer.Message().toStdString();
  const QByteArray request = QByteArray::fromHex("100401"
                                                 "100402"
                                                 "100404");

  const int socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(printer.Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  EXPECT_EQ(Ask(socketFd, request, 3).toHex(' '), "1a 32 7e");
  ::close(socketFd);

  const int lineFd =
      ::open(printer.SerialPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(lineFd, 0);
  termios raw{};
  ASSERT_EQ(::tcgetattr(lineFd, &raw), 0);
  ::cfmakeraw(&raw);
  ::tcsetattr(lineFd, TCSANOW, &raw);
  EXPECT_EQ(Ask(lineFd, request, 3).toHex(' '), "1a 32 7e");

  EXPECT_TRUE(WaitUntil([&] { return printer.Log().size() >= 6; }));
  EXPECT_EQ(JsonAt(printer.State(), QStringLiteral("counters.statusRequests")), 6);
  EXPECT_EQ(printer.Stop(), 0);
  // The line stays open here until the end, so that no other program can be
  // handed the same terminal number while the path is looked at.
  pollfd hangUp{lineFd, POLLIN, 0};
  EXPECT_EQ(::poll(&hangUp, 1, 0), 1);
  EXPECT_TRUE(hangUp.revents & POLLHUP);
  EXPECT_FALSE(QFile::exists(printer.SerialPath()));
  ::close(lineFd);
}

} // namespace
} // namespace pellicar::test
