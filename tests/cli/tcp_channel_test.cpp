// --tcp: the window's TCP client to a fake printer on 127.0.0.1 that
// records what it receives and how the connection ended.

#include "cli/cli_process.h"
#include "support/firmware_files.h"
#include "support/wait.h"

#include "support/fake_printer.h"
#include "support/loopback_ports.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellicar::test {
namespace {

QString Target(const FakePrinter &printer, const char *host = "127.0.0.1") {
  return QStringLiteral("%1:%2").arg(QLatin1String(host)).arg(printer.port());
}

class CliTcpTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

  QString Firmware(qsizetype size, QByteArray *file) {
    const QString path = folder_.filePath(QStringLiteral("printer.bin"));
    *file = WriteValidFirmware(path, size, 3);
    EXPECT_FALSE(file->isEmpty());
    return path;
  }

  QTemporaryDir folder_;
};

TEST_F(CliTcpTest, EachCommandSendsItsDryRunBytesAndClosesInOrder) {
  const std::vector<QStringList> commands = {
      Words({"selftest"}),
      Words({"base", "--baud", "1200", "--codepage", "Cp874", "--buzz-after-print", "on"}),
      Words({"ip", "10.0.0.$FF"}),
      Words({"mac", "100.101.102.103.104"}),
      Words({"speed", "10-half"}),
      Words({"wifi", "--ssid", "shop", "--wpa2", "secret-key"}),
      Words({"blackmark", "pitch", "300"}),
      Words({"blackmark", "next-mark"}),
  };
  for (const QStringList &command : commands) {
    SCOPED_TRACE(command.join(QLatin1Char(' ')).toStdString());
    const QByteArray expected = DryRunBytes(command);
    ASSERT_FALSE(expected.isEmpty());
    FakePrinter printer;
    ASSERT_TRUE(printer.listening());
    const CliResult result =
        RunCliProcess(QStringList{QStringLiteral("--tcp"), Target(printer)} + command);
    EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    ASSERT_TRUE(printer.waitForPeerEnd(0));
    EXPECT_EQ(printer.connectionCount(), 1);
    EXPECT_EQ(printer.receivedOn(0).toHex(' ').toStdString(), expected.toHex(' ').toStdString());
    EXPECT_EQ(printer.peerEnd(0), FakePrinter::PeerEnd::Clean);
  }
}

TEST_F(CliTcpTest, LocalhostByName) {
  FakePrinter printer;
  ASSERT_TRUE(printer.listening());
  const CliResult result = RunCliProcess(
      {QStringLiteral("--tcp"), Target(printer, "localhost"), QStringLiteral("selftest")});
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  ASSERT_TRUE(printer.waitForPeerEnd(0));
  EXPECT_EQ(printer.receivedOn(0), QByteArray("\x12\x54"));
}

TEST_F(CliTcpTest, PortDefaultsTo9100) {
  FakePrinter printer(FakePrinter::Options{9100, 0});
  if (!printer.listening())
    GTEST_SKIP() << "port 9100 is in use on this machine";
  const CliResult result = RunCliProcess(Words({"--tcp", "127.0.0.1", "blackmark", "next-cut"}));
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  ASSERT_TRUE(printer.waitForPeerEnd(0));
  EXPECT_EQ(printer.receivedOn(0), QByteArray("\x1D\x56\x00", 3));
}

TEST_F(CliTcpTest, FirmwareStreamArrivesWhole) {
  QByteArray file;
  const QString path = Firmware(3 * 1024 * 1024 + 5, &file);
  FakePrinter printer;
  ASSERT_TRUE(printer.listening());
  const CliResult result =
      RunCliProcess({QStringLiteral("--tcp"), Target(printer), QStringLiteral("firmware"), path});
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  // No terminal: no progress bar.
  EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
  ASSERT_TRUE(printer.waitForPeerEnd(0));
  EXPECT_TRUE(printer.receivedOn(0) == ExpectedFirmwareImage(file))
      << printer.receivedSize() << " bytes received";
  EXPECT_EQ(printer.peerEnd(0), FakePrinter::PeerEnd::Clean);
}

TEST_F(CliTcpTest, RefusedConnectionExitsWithOne) {
  const RefusingPort refusing;
  const QString target = QStringLiteral("127.0.0.1:%1").arg(refusing.port());
  const CliResult result =
      RunCliProcess({QStringLiteral("--tcp"), target, QStringLiteral("selftest")});
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(
      target + QStringLiteral(": the connection failed: Connection refused")))
      << result.err.toStdString();
}

TEST_F(CliTcpTest, PrinterThatStopsReadingTimesOut) {
  QByteArray file;
  // Far more than the socket buffers of both sides hold.
  const QString path = Firmware(32 * 1024 * 1024, &file);
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ASSERT_TRUE(printer.listening());
  printer.pauseReading();
  QElapsedTimer clock;
  clock.start();
  const CliResult result =
      RunCliProcess({QStringLiteral("--timeout"), QStringLiteral("1"), QStringLiteral("--tcp"),
                     Target(printer), QStringLiteral("firmware"), path});
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(
      result.errText().contains(QStringLiteral("the printer took no data for 1 s; it has ")))
      << result.err.toStdString();
  EXPECT_LT(clock.elapsed(), 10000);
}

// A printer that ends its sending side at once and reads on: not an error.
TEST_F(CliTcpTest, HalfCloseWhileThePrinterReadsIsNoError) {
  QByteArray file;
  const QString path = Firmware(4 << 20, &file);
  FakePrinter printer(FakePrinter::Options{0, 4096});
  printer.readSlowly(64 << 10, 2);
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (printer.connectionCount() > 0 && watch.isActive())
      watch.stop(), printer.close();
  });
  watch.start(1);
  const CliResult result =
      RunCliProcess({QStringLiteral("--tcp"), Target(printer), QStringLiteral("firmware"), path});
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  ASSERT_TRUE(printer.waitForPeerEnd());
  EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Clean);
  EXPECT_TRUE(printer.received() == ExpectedFirmwareImage(file));
}

TEST_F(CliTcpTest, ConnectionThatIsNeverAcceptedTimesOut) {
  const UnansweringPort silent;
  const QString target = QStringLiteral("127.0.0.1:%1").arg(silent.port());
  const CliResult result =
      RunCliProcess({QStringLiteral("--timeout"), QStringLiteral("0.5"), QStringLiteral("--tcp"),
                     target, QStringLiteral("selftest")});
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(
      result.errText().contains(QStringLiteral("timed out after 0.5 s waiting for the connection")))
      << result.err.toStdString();
}

TEST_F(CliTcpTest, PrinterThatResetsMidStreamExitsWithOne) {
  QByteArray file;
  const QString path = Firmware(4 * 1024 * 1024, &file);
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ASSERT_TRUE(printer.listening());
  printer.readSlowly(4096, 5);
  // Once some of the stream has arrived, the printer drops the connection.
  QTimer watch;
  bool reset = false;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!reset && printer.receivedSize() >= 64 * 1024) {
      reset = true;
      printer.reset();
    }
  });
  watch.start(5);
  const CliResult result =
      RunCliProcess({QStringLiteral("--tcp"), Target(printer), QStringLiteral("firmware"), path});
  EXPECT_TRUE(reset);
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  // Says how far the printer got (its side had acknowledged at least what
  // it had read when it reset), and why it stopped.
  const qint64 image = ExpectedFirmwareImage(file).size();
  const QRegularExpression said(
      QStringLiteral("%1: the connection ended before the printer had everything \\(it has "
                     "(\\d+) of %2 bytes\\): (the connection broke|sending failed): ")
          .arg(QRegularExpression::escape(Target(printer)))
          .arg(image));
  const QRegularExpressionMatch match = said.match(result.errText());
  ASSERT_TRUE(match.hasMatch()) << result.err.toStdString();
  EXPECT_GE(match.captured(1).toLongLong(), 64 * 1024) << result.err.toStdString();
  EXPECT_LT(match.captured(1).toLongLong(), image);
}

// Makes the child's standard error the slave side of a pseudo terminal.
struct TerminalStderr {
  int master = -1;
  int slave = -1;
  QByteArray seen;
  std::unique_ptr<QSocketNotifier> notifier;

  bool Open() {
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
      return false;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    notifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { Drain(); });
    return true;
  }
  void Drain() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(master, buffer, sizeof buffer)) > 0)
      seen.append(buffer, n);
  }
  ~TerminalStderr() {
    notifier.reset();
    if (slave >= 0)
      ::close(slave);
    if (master >= 0)
      ::close(master);
  }
};

TEST_F(CliTcpTest, ProgressBarOnATerminal) {
  QByteArray file;
  const QString path = Firmware(512 * 1024, &file);
  // About 0.6 s: the bar follows what the printer acknowledges, read ten
  // times a second.
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ASSERT_TRUE(printer.listening());
  printer.readSlowly(16 << 10, 20);
  TerminalStderr terminal;
  ASSERT_TRUE(terminal.Open());
  CliOptions options;
  const int slave = terminal.slave;
  options.childSetup = [slave] { ::dup2(slave, STDERR_FILENO); };
  const CliResult result = RunCliProcess(
      {QStringLiteral("--tcp"), Target(printer), QStringLiteral("firmware"), path}, options);
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  const qsizetype total = ExpectedFirmwareImage(file).size();
  const QByteArray last = QStringLiteral("100%  %1/%1 bytes").arg(total).toUtf8();
  EXPECT_TRUE(WaitUntil([&] {
    terminal.Drain();
    return terminal.seen.contains(last);
  })) << terminal.seen.right(200).toStdString();
  EXPECT_TRUE(terminal.seen.startsWith("\rupdate  [")) << terminal.seen.left(80).toStdString();
  EXPECT_GT(terminal.seen.count('\r'), 2) << "the bar is redrawn as the stream goes";
  ASSERT_TRUE(printer.waitForPeerEnd(0));
  EXPECT_EQ(printer.receivedOn(0).size(), total);
}

} // namespace
} // namespace pellicar::test
