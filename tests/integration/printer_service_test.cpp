// pellicar-printer as a service other people on the machine can reach:
// links planted in its folders, a log nobody reads, a client that holds
// the printer with a byte now and then, a flood of pages, bytes meant to
// forge its log. The built program, through its real command line.

#include "cli/cli_process.h"
#include "support/json_path.h"
#include "support/printer_process.h"
#include "support/wait.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellicar::test {
namespace {

const QByteArray kStatusRequest = QByteArray::fromHex("100401");

int Connect(quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const QByteArray &bytes) {
  for (qsizetype at = 0; at < bytes.size();) {
    const ssize_t n =
        ::send(fd, bytes.constData() + at, std::size_t(bytes.size() - at), MSG_NOSIGNAL);
    if (n <= 0)
      return false;
    at += n;
  }
  return true;
}

// Reads until `count` bytes or the end of the stream, within `timeoutMs`.
QByteArray Read(int fd, qsizetype count, int timeoutMs) {
  QByteArray bytes;
  QDeadlineTimer deadline(timeoutMs);
  while (bytes.size() < count && !deadline.hasExpired()) {
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, int(deadline.remainingTime())) <= 0)
      break;
    char buffer[256];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0)
      break;
    bytes.append(buffer, n);
  }
  return bytes;
}

QByteArray WifiCommand(const QByteArray &ssid, const QByteArray &key) {
  return QByteArray::fromHex("1f77") + char(ssid.size()) + ssid + QByteArray::fromHex("0300") +
         char(key.size()) + key;
}

// Links planted in --out and at --state point at a file of the test's: the
// printer replaces a link in --out by its own file and refuses a --state
// that is a link, and the file pointed at keeps its bytes.
TEST(PrinterServiceTest, NeverWritesThroughAPlantedLink) {
  QTemporaryDir elsewhere;
  ASSERT_TRUE(elsewhere.isValid());
  const QString victim = elsewhere.filePath(QStringLiteral("victim"));
  QFile file(victim);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
  file.close();

  PrinterProcess printer;
  ASSERT_TRUE(QDir().mkpath(printer.OutDir()));
  for (const char *name : {"page-1.png", "logo-1.png"})
    ASSERT_TRUE(QFile::link(victim, QDir(printer.OutDir()).filePath(QLatin1String(name))));
  ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
  const int fd = Connect(printer.Port());
  ASSERT_GE(fd, 0);
  // A self-test page, and a logo of 8 x 8 dots.
  ASSERT_TRUE(SendAll(fd, QByteArray::fromHex("1254") + QByteArray::fromHex("1c710101000100") +
                              QByteArray(8, '\xff')));
  EXPECT_TRUE(printer.WaitForLog(2)) << printer.Log().join(u'|').toStdString();
  ::close(fd);
  for (const char *name : {"page-1.png", "logo-1.png"}) {
    const QFileInfo written(QDir(printer.OutDir()).filePath(QLatin1String(name)));
    EXPECT_FALSE(written.isSymLink()) << name;
    EXPECT_GT(written.size(), 7) << name;
  }
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "keep me");
  file.close();
  EXPECT_EQ(printer.Stop(), 0);

  // The state file is PrinterProcess's state.json: a link there is refused.
  PrinterProcess linked;
  ASSERT_TRUE(
      QFile::link(victim, QFileInfo(linked.OutDir()).dir().filePath(QStringLiteral("state.json"))));
  EXPECT_FALSE(linked.Start());
  EXPECT_EQ(linked.Stop(), 1);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "keep me");
}

// The printer's standard output is a pipe that is read up to the port and
// then no more. Long log lines fill it many times over; status requests
// are still answered at once, and Ctrl-C still ends the program in its
// bound.
TEST(PrinterServiceTest, AnUnreadLogDoesNotStopTheService) {
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  const QByteArray program = PrinterProcess::ProgramPath().toLocal8Bit();
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::execl(program.constData(), program.constData(), "--tcp", "127.0.0.1:0", nullptr);
    ::_exit(127);
  }
  ::close(out[1]);
  QByteArray first;
  char byte = 0;
  while (!first.endsWith('\n') && ::read(out[0], &byte, 1) == 1)
    first += byte;
  ASSERT_TRUE(first.startsWith("Listening on 127.0.0.1:")) << first.constData();
  const quint16 port = quint16(first.trimmed().split(':').last().toUInt());

  const int fd = Connect(port);
  ASSERT_GE(fd, 0);
  // 150 lines of 4,000 characters: about 600 KB of log.
  const QByteArray line = QByteArray(4000, 'x') + '\n';
  for (int i = 0; i < 150; ++i)
    ASSERT_TRUE(SendAll(fd, line));
  ASSERT_TRUE(SendAll(fd, kStatusRequest));
  EXPECT_EQ(Read(fd, 1, 5000).size(), 1);
  ::close(fd);

  ::kill(pid, SIGINT);
  QElapsedTimer clock;
  clock.start();
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0 && clock.elapsed() < 10000)
    ::usleep(20000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(clock.elapsed(), 5000);
  if (!WIFEXITED(status)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ::close(out[0]);
}

// A client that sends a byte now and then, never a whole command, holds the
// printer only until the hold limit once another client waits; one that
// sends commands keeps it.
TEST(PrinterServiceTest, ADrippingClientMakesWayForAWaitingOne) {
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start({QStringLiteral("--hold-limit"), QStringLiteral("2")}))
      << printer.Message().toStdString();
  // What the holder sends every 300 ms, and whether it then makes way.
  const std::pair<QByteArray, bool> rows[] = {{"x", true}, {kStatusRequest, false}};
  int closed = 0;
  for (const auto &[drip, makesWay] : rows) {
    SCOPED_TRACE(drip.toHex().constData());
    const int holder = Connect(printer.Port());
    const int waiter = Connect(printer.Port());
    ASSERT_TRUE(holder >= 0 && waiter >= 0 && SendAll(waiter, kStatusRequest));
    QElapsedTimer clock;
    clock.start();
    QByteArray answer;
    while (answer.isEmpty() && clock.elapsed() < 4000 && SendAll(holder, drip))
      answer = Read(waiter, 1, 300);
    EXPECT_EQ(answer.size(), makesWay ? 1 : 0);
    EXPECT_GE(clock.elapsed(), makesWay ? 1500 : 4000);
    ::close(holder);
    EXPECT_EQ((answer + Read(waiter, 1, answer.isEmpty() ? 5000 : 0)).size(), 1);
    ::close(waiter);
    closed += makesWay ? 1 : 0;
    EXPECT_TRUE(WaitUntil([&] {
      return printer.Log().filter(QStringLiteral("Closed the connection from")).size() == closed;
    }));
  }
  EXPECT_EQ(printer.Stop(), 0);
}

// A flood of one-character pages keeps the last pictures only, and the
// log says how much of it was left out; the SSID's control bytes are shown
// escaped, and its exact bytes stay in the state.
TEST(PrinterServiceTest, FloodsAndForgeriesStayBounded) {
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
  const int fd = Connect(printer.Port());
  ASSERT_GE(fd, 0);
  const QByteArray ssid = QByteArrayLiteral(
      "\xef\xbb\xbfshop\x1b]0;owned\x07\x1b[2J\nConnection closed after 0 bytes\xff");
  ASSERT_TRUE(SendAll(fd, WifiCommand(ssid, "k")));
  const int pages = 1000;
  QByteArray flood;
  for (int i = 0; i < pages; ++i)
    flood += "x\f";
  ASSERT_TRUE(SendAll(fd, flood + kStatusRequest));
  EXPECT_EQ(Read(fd, 1, 30000).size(), 1);
  ::close(fd);

  ASSERT_TRUE(WaitUntil(
      [&] { return !printer.Log().filter(QStringLiteral("log lines left out here")).isEmpty(); },
      5000))
      << printer.Log().size();
  const QStringList log = printer.Log();
  EXPECT_LT(log.size(), pages / 2);
  const QStringList pictures =
      QDir(printer.OutDir()).entryList({QStringLiteral("page-*.png")}, QDir::Files);
  EXPECT_EQ(pictures.size(), 50);
  EXPECT_TRUE(pictures.contains(QStringLiteral("page-%1.png").arg(pages)));
  EXPECT_FALSE(pictures.contains(QStringLiteral("page-%1.png").arg(pages - 50)));

  ASSERT_TRUE(WaitUntil([&] { return !printer.State().value(QStringLiteral("wifi")).isNull(); }));
  const QJsonObject state = printer.State();
  EXPECT_EQ(JsonAt(state, QStringLiteral("wifi.ssidHex")).toString().toLatin1(), ssid.toHex());
  EXPECT_TRUE(JsonAt(state, QStringLiteral("wifi.keyHex")).isUndefined());
  EXPECT_EQ(printer.Stop(), 0);
  // Stopped: everything it logged is there. Not one control character.
  const QStringList all = printer.Log();
  const QStringList wifi = all.filter(QStringLiteral("Set WIFI"));
  ASSERT_EQ(wifi.size(), 1) << all.join(u'\n').toStdString();
  EXPECT_EQ(wifi[0], QStringLiteral("Set WIFI: SSID \"\\xef\\xbb\\xbfshop\\x1b]0;owned\\x07\\x1b[2J"
                                    "\\x0aConnection closed after 0 bytes\\xff\", WPA2-PSK, TKIP, "
                                    "key \"k\""));
  for (const QString &line : all)
    for (const QChar c : line)
      ASSERT_FALSE(c.category() == QChar::Other_Control) << line.toStdString();
}

// The sample firmware is what the README's try-it path uploads: it passes
// the tool's check and the printer's.
TEST(PrinterSampleFirmwareTest, PassesTheCheckAndTheUpload) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString sample = folder.filePath(QStringLiteral("sample.bin"));
  QProcess writer;
  writer.start(PrinterProcess::ProgramPath(), {QStringLiteral("--write-sample-firmware"), sample});
  ASSERT_TRUE(writer.waitForFinished(10000));
  EXPECT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
  EXPECT_EQ(QFileInfo(sample).size(), 4096);
  const CliResult check = RunCliProcess({QStringLiteral("check-firmware"), sample});
  EXPECT_EQ(check.exitCode, 0) << ::testing::PrintToString(check);

  PrinterProcess printer;
  ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
  const CliResult sent =
      RunCliProcess({QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(printer.Port()),
                     QStringLiteral("firmware"), sample});
  EXPECT_EQ(sent.exitCode, 0) << ::testing::PrintToString(sent);
  EXPECT_TRUE(printer.WaitForLog(1));
  EXPECT_EQ(printer.Log(),
            QStringList{QStringLiteral("Firmware upload: 4,096 bytes, check passed")});
  EXPECT_EQ(printer.Stop(), 0);
}

} // namespace
} // namespace pellicar::test
