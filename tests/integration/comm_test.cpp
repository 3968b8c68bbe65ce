// TComm on pseudo terminals: the test holds the printer's side of the line.

#include "channels/comm.h"

#include "support/pty.h"
#include "support/wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pellicar {
namespace {

using test::RunEventLoopFor;
using test::TPseudoTerminal;
using test::WaitUntil;

qsizetype CountEntries(const char *folder) {
  return QDir(QString::fromLatin1(folder))
      .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
      .size();
}
qsizetype ThreadCount() { return CountEntries("/proc/self/task"); }
qsizetype OpenFdCount() { return CountEntries("/proc/self/fd"); }

QStringList TaskIds() {
  return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

// How often the tasks have been put to sleep and woken: the sum of their
// voluntary and involuntary context switches.
quint64 ContextSwitches(const QStringList &tasks) {
  quint64 sum = 0;
  for (const QString &task : tasks) {
    QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
    if (!status.open(QIODevice::ReadOnly))
      continue;
    for (const QByteArray &line : status.readAll().split('\n'))
      if (line.startsWith("voluntary_ctxt_switches:") ||
          line.startsWith("nonvoluntary_ctxt_switches:"))
        sum += line.mid(line.indexOf(':') + 1).trimmed().toULongLong();
  }
  return sum;
}

// Records every event of a component.
struct Events {
  std::vector<QByteArray> blocks;
  bool blocksTerminated = true;
  int empties = 0;
  int hangups = 0;
  std::vector<quint64> discarded;

  explicit Events(TComm &comm) {
    comm.OnReceiveData = [this](TComm &, const char *buffer, quint16 length) {
      blocks.emplace_back(buffer, length);
      blocksTerminated = blocksTerminated && buffer[length] == 0;
    };
    comm.OnSendDataEmpty = [this](TComm &) { ++empties; };
    comm.OnRequestHangup = [this](TComm &) { ++hangups; };
    comm.OnSendDataDiscarded = [this](TComm &, quint64 bytes) { discarded.push_back(bytes); };
  }
  QByteArray Joined() const {
    QByteArray all;
    for (const QByteArray &block : blocks)
      all += block;
    return all;
  }
};

class CommTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    // A first thread makes a sanitizer start its own, so that it is in the
    // count from the start.
    std::thread([] {}).join();
    baseThreads = ThreadCount();
    comm.LoadFormValues();
    comm.SetCommName(pty.SlavePath());
  }

  void OpenAndSettle() {
    ASSERT_NO_THROW(comm.OpenPort());
    ASSERT_TRUE(WaitUntil([&] { return events.empties == 1; }));
  }

  TPseudoTerminal pty;
  TComm comm;
  Events events{comm};
  qsizetype baseThreads = 0;
};

QString OpenError(TComm &comm) {
  try {
    comm.OpenPort();
  } catch (const ECommsError &error) {
    return error.message();
  }
  return QString();
}

TEST_F(CommTest, SendDataArrivesInOrderAndWholeAndReportsEmptyQueue) {
  EXPECT_FALSE(comm.SendData("SET", 3)) << "closed port";
  OpenAndSettle();
  EXPECT_EQ(ThreadCount(), baseThreads + 2);

  const QByteArray first("\x1f\x10\x01\x02\x03\x04\x05\x06\x07\x08\x09", 11);
  const QByteArray second("\x1f\x11\x00", 3);
  EXPECT_FALSE(comm.SendData(first.constData(), 0));
  ASSERT_TRUE(comm.SendData(first));
  ASSERT_TRUE(comm.SendData(second));
  ASSERT_TRUE(pty.WaitForReceived(14));
  EXPECT_EQ(pty.Received(), first + second);
  ASSERT_TRUE(WaitUntil([&] { return events.empties >= 2; }));
  EXPECT_LE(events.empties, 3);

  // Once more when the queue runs dry again, and only once.
  const int before = events.empties;
  ASSERT_TRUE(comm.SendData("\x0a", 1));
  ASSERT_TRUE(WaitUntil([&] { return events.empties == before + 1; }));
  RunEventLoopFor(100);
  EXPECT_EQ(events.empties, before + 1);
  EXPECT_EQ(pty.Received().size(), 15);

  comm.ClosePort();
  EXPECT_EQ(ThreadCount(), baseThreads);
  EXPECT_FALSE(comm.SendData("SET", 3));
  comm.ClosePort(); // closed: nothing happens
}

TEST_F(CommTest, FailedOpensLeaveNothingAndAGoodOpenFollows) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QStringLiteral("plain"));
  QFile plain(file);
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();

  struct Case {
    QString name;
    const char *message;
  } cases[] = {
      {file, "File handle is not a comm handle "},
      {QStringLiteral("/dev/null"), "File handle is not a comm handle "},
      {dir.filePath(QStringLiteral("missing")), "Error opening serial port"},
      {QString(), "Error opening serial port"},
      // The name is used as given: nothing is put in front of it.
      {pty.SlavePath().mid(5), "Error opening serial port"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    const qsizetype fds = OpenFdCount();
    comm.SetCommName(c.name);
    EXPECT_EQ(OpenError(comm), QString::fromLatin1(c.message));
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_FALSE(comm.Opened());
    EXPECT_EQ(ThreadCount(), baseThreads);

    comm.SetCommName(pty.SlavePath());
    ASSERT_NO_THROW(comm.OpenPort());
    comm.ClosePort();
  }
}

TEST_F(CommTest, PortIsHeldExclusively) {
  OpenAndSettle();
  EXPECT_EQ(OpenError(comm), QStringLiteral("This serial port already opened"));

  TComm other;
  other.SetCommName(pty.SlavePath());
  EXPECT_EQ(OpenError(other), QStringLiteral("Error opening serial port"));

  // The open port goes on working.
  ASSERT_TRUE(comm.SendData("OK", 2));
  ASSERT_TRUE(pty.WaitForReceived(2));
  EXPECT_EQ(pty.Received(), QByteArray("OK"));

  comm.ClosePort();
  EXPECT_NO_THROW(other.OpenPort());
}

TEST_F(CommTest, BurstArrivesInBlocksOfAtMost2048InOrder) {
  OpenAndSettle();
  QByteArray burst(5000, '\0');
  for (int i = 0; i < burst.size(); ++i)
    burst[i] = char(i * 7 + i / 256);
  ASSERT_TRUE(pty.Send(burst));
  ASSERT_TRUE(WaitUntil([&] { return events.Joined().size() >= burst.size(); }));
  EXPECT_EQ(events.Joined(), burst);
  EXPECT_GE(events.blocks.size(), 3u);
  for (const QByteArray &block : events.blocks)
    EXPECT_LE(block.size(), 2048);
  EXPECT_TRUE(events.blocksTerminated);
}

TEST_F(CommTest, LoneByteArrivesAloneAfterTheIntervalTimeout) {
  OpenAndSettle();
  // 100 ms as the form has it, then 300 set while the port is open.
  for (const quint32 interval : {100u, 300u}) {
    SCOPED_TRACE(interval);
    comm.SetReadIntervalTimeout(interval);
    events.blocks.clear();
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(pty.Send("A"));
    ASSERT_TRUE(WaitUntil([&] { return !events.blocks.empty(); }));
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, qint64(interval) - 10);
    EXPECT_LT(elapsed, qint64(interval) + 700);
    ASSERT_EQ(events.blocks.size(), 1u);
    EXPECT_EQ(events.blocks[0], QByteArray("A"));
  }
}

TEST_F(CommTest, LineSettingsReachTheTty) {
  OpenAndSettle();
  TPseudoTerminal::LineSettings s = pty.Settings();
  EXPECT_EQ(s.speed, 19200u);
  EXPECT_FALSE(s.oddParity);
  EXPECT_FALSE(s.stickParity);
  EXPECT_FALSE(s.twoStopBits);
  EXPECT_TRUE(s.inputXonXoff);
  EXPECT_FALSE(s.outputXonXoff);
  EXPECT_FALSE(s.ctsFlow);
  EXPECT_FALSE(s.parityCheck);
  EXPECT_TRUE(s.raw);
  EXPECT_EQ(s.xonChar, 0x11);
  EXPECT_EQ(s.xoffChar, 0x13);

  // Parity alone does not reach the open port; the next line setting
  // carries it along.
  comm.SetParity(TParity::Odd);
  EXPECT_FALSE(pty.Settings().oddParity);
  comm.SetBaudRate(250000); // not a standard speed
  s = pty.Settings();
  EXPECT_EQ(s.speed, 250000u);
  EXPECT_TRUE(s.oddParity);

  using Settings = TPseudoTerminal::LineSettings;
  auto parity = [&](TParity p) {
    comm.SetParity(p);
    comm.ApplyCommState();
  };
  struct Case {
    const char *what;
    std::function<void()> change;
    std::function<bool(const Settings &)> holds;
  } cases[] = {
      {"mark parity", [&] { parity(TParity::Mark); },
       [](const Settings &l) { return l.oddParity && l.stickParity; }},
      {"space parity", [&] { parity(TParity::Space); },
       [](const Settings &l) { return !l.oddParity && l.stickParity; }},
      {"even parity", [&] { parity(TParity::Even); },
       [](const Settings &l) { return !l.oddParity && !l.stickParity; }},
      {"two stop bits", [&] { comm.SetStopBits(TStopBits::_2); },
       [](const Settings &l) { return l.twoStopBits; }},
      {"parity check", [&] { comm.SetParityCheck(true); },
       [](const Settings &l) { return l.parityCheck; }},
      {"output XON/XOFF", [&] { comm.SetOutx_XonXoffFlow(true); },
       [](const Settings &l) { return l.outputXonXoff; }},
      {"no input XON/XOFF", [&] { comm.SetInx_XonXoffFlow(false); },
       [](const Settings &l) { return !l.inputXonXoff; }},
      {"CTS flow", [&] { comm.SetOutx_CtsFlow(true); },
       [](const Settings &l) { return l.ctsFlow; }},
      {"no CTS flow but RTS handshake",
       [&] {
         comm.SetOutx_CtsFlow(false);
         comm.SetRtsControl(TRtsControl::RtsHandshake);
       },
       [](const Settings &l) { return l.ctsFlow; }},
      {"XON/XOFF characters",
       [&] {
         comm.SetXonChar('Q');
         comm.SetXoffChar('S');
       },
       [](const Settings &l) { return l.xonChar == 'Q' && l.xoffChar == 'S'; }},
      {"a speed of 0 is refused", [&] { comm.SetBaudRate(0); },
       [](const Settings &l) { return l.speed == 250000; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    c.change();
    EXPECT_TRUE(c.holds(pty.Settings()));
  }
}

TEST_F(CommTest, BaudRateSetterReappliesTheWholeRecordOnlyOnChange) {
  OpenAndSettle();
  ASSERT_TRUE(pty.Tamper(1200, false));

  comm.SetBaudRate(19200); // unchanged: the port is not touched
  TPseudoTerminal::LineSettings s = pty.Settings();
  EXPECT_EQ(s.speed, 1200u);
  EXPECT_FALSE(s.inputXonXoff);

  comm.SetBaudRate(38400);
  s = pty.Settings();
  EXPECT_EQ(s.speed, 38400u);
  EXPECT_TRUE(s.inputXonXoff) << "the whole record is applied";
}

TEST_F(CommTest, PrinterGoingAwayEndsEachThreadWithAHangupRequest) {
  OpenAndSettle();
  pty.CloseMaster();

  // The read thread sees it at once and gives up; the write thread goes on.
  ASSERT_TRUE(WaitUntil([&] { return events.hangups == 1 && ThreadCount() == baseThreads + 1; }));
  EXPECT_TRUE(comm.Opened());
  EXPECT_TRUE(comm.SendData("SET", 3));
  // Its write fails: the write thread gives up too.
  ASSERT_TRUE(WaitUntil([&] { return events.hangups == 2 && ThreadCount() == baseThreads; }));
  EXPECT_FALSE(comm.SendData("SET", 3));

  QElapsedTimer timer;
  timer.start();
  comm.ClosePort();
  EXPECT_LT(timer.elapsed(), 1000);
  EXPECT_FALSE(comm.Opened());
  EXPECT_EQ(events.discarded, std::vector<quint64>{3}) << "the failed write's bytes";
}

// Reads the master side on a thread of its own while the main thread is
// held in ClosePort, until it has `expected` bytes or 10 s have passed.
class PrinterReader {
public:
  PrinterReader(int fd, qsizetype expected) : fd_(fd), expected_(expected) {
    thread_ = std::thread([this] { Run(); });
  }
  ~PrinterReader() {
    if (thread_.joinable())
      thread_.join();
  }
  QByteArray Take() {
    thread_.join();
    return received_;
  }

private:
  void Run() {
    QElapsedTimer timer;
    timer.start();
    char buffer[4096];
    while (received_.size() < expected_ && timer.elapsed() < 10000) {
      pollfd fd{fd_, POLLIN, 0};
      if (::poll(&fd, 1, 100) > 0) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0)
          received_.append(buffer, qsizetype(n));
      }
    }
  }

  int fd_;
  qsizetype expected_;
  QByteArray received_;
  std::thread thread_;
};

QByteArray Pattern(qsizetype size, int seed) {
  QByteArray bytes(size, '\0');
  for (qsizetype i = 0; i < size; ++i)
    bytes[i] = char((i * 31 + seed) & 0xff);
  return bytes;
}

TEST_F(CommTest, CloseWritesWhatIsQueuedFirst) {
  comm.SetBaudRate(115200);
  OpenAndSettle();
  pty.SetReading(false); // the printer is busy: the line fills up
  QByteArray all;
  for (int i = 0; i < 3; ++i) {
    const QByteArray part = Pattern(20000, i);
    ASSERT_TRUE(comm.SendData(part));
    all += part;
  }
  PrinterReader reader(pty.MasterFd(), all.size());
  QElapsedTimer timer;
  timer.start();
  comm.ClosePort();
  // 60000 bytes at 115200 baud, 10 bits each, plus one second.
  EXPECT_LT(timer.elapsed(), 60000 * 10 * 1000 / 115200 + 1000);
  const QByteArray received = reader.Take();
  EXPECT_EQ(ThreadCount(), baseThreads);
  EXPECT_EQ(received.size(), all.size());
  EXPECT_TRUE(received == all);
  EXPECT_TRUE(events.discarded.empty());
}

// A pseudo terminal counts its output as gone once the other end could
// read it: the next opener of the port must not throw those bytes away.
// With the printer not reading, its side holds 4 KiB and the rest waits in
// the terminal's buffer, which an output purge of the port empties.
TEST_F(CommTest, ReopeningKeepsWhatThePreviousWriterLeftUnread) {
  OpenAndSettle();
  pty.SetReading(false);
  const QByteArray sent = Pattern(8000, 7);
  ASSERT_TRUE(comm.SendData(sent));
  ASSERT_TRUE(WaitUntil([&] { return events.empties == 2; }));
  comm.ClosePort();
  ASSERT_TRUE(events.discarded.empty());
  TComm next;
  next.LoadFormValues();
  next.SetCommName(pty.SlavePath());
  ASSERT_NO_THROW(next.OpenPort());
  pty.SetReading(true);
  ASSERT_TRUE(pty.WaitForReceived(sent.size()));
  EXPECT_TRUE(pty.Received() == sent);
}

TEST_F(CommTest, CloseOfAHeldLineGivesUpInTimeAndCountsWhatItDropped) {
  struct Case {
    const char *what;
    quint32 speed;   // applied at open
    bool refuseNext; // then a speed of 0 is asked for, which the driver refuses
    qint64 bytes;
    qint64 waitMs; // the time the bytes need at the applied speed, 8N1, and a second
  } cases[] = {
      // 9.5 s if the refused speed were taken for the line's.
      {"a refused speed changes nothing", 921600, true, 80000, 80000 * 10 * 1000 / 921600 + 1001},
      // 63 s at this speed: the write thread's 10 s, less the time it
      // needs to end, are the most ClosePort waits.
      {"slow line", 9600, false, 60000, 9500},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    events.empties = 0;
    events.discarded.clear();
    comm.SetBaudRate(c.speed);
    OpenAndSettle();
    if (c.refuseNext) {
      comm.SetBaudRate(0);
      ASSERT_EQ(pty.Settings().speed, c.speed);
    }
    ASSERT_TRUE(pty.HoldOutput(true));
    for (qint64 sent = 0; sent < c.bytes; sent += 20000)
      ASSERT_TRUE(comm.SendData(Pattern(std::min<qint64>(20000, c.bytes - sent), int(sent))));
    QElapsedTimer timer;
    timer.start();
    comm.ClosePort();
    const qint64 elapsed = timer.elapsed();
    std::printf("%s: ClosePort with %lld bytes held took %lld ms\n", c.what,
                static_cast<long long>(c.bytes), static_cast<long long>(elapsed));
    EXPECT_GE(elapsed, c.waitMs);
    EXPECT_LT(elapsed, c.waitMs + 400);
    EXPECT_EQ(ThreadCount(), baseThreads);
    EXPECT_EQ(events.discarded, std::vector<quint64>{quint64(c.bytes)});
    ASSERT_TRUE(pty.HoldOutput(false));
    RunEventLoopFor(20);
    EXPECT_TRUE(pty.Received().isEmpty()) << "what was reported dropped went out after all";
  }
}

TEST_F(CommTest, TheWriteQueueHoldsAMebibyteAtMost) {
  OpenAndSettle();
  ASSERT_TRUE(pty.HoldOutput(true));
  QByteArray all;
  for (int i = 0; i < 16; ++i) {
    all += Pattern(65535, i);
    ASSERT_TRUE(comm.SendData(all.right(65535)));
  }
  all += Pattern(16, 99);
  ASSERT_TRUE(comm.SendData(all.right(16)));
  ASSERT_EQ(all.size(), 1 << 20);
  EXPECT_FALSE(comm.SendData("X", 1)) << "one byte past the bound";

  ASSERT_TRUE(pty.HoldOutput(false));
  ASSERT_TRUE(pty.WaitForReceived(all.size()));
  RunEventLoopFor(20);
  EXPECT_EQ(pty.Received().size(), all.size());
  EXPECT_TRUE(pty.Received() == all) << "the refused byte was not taken";
  EXPECT_TRUE(comm.SendData("Y", 1)) << "room again once written";
  ASSERT_TRUE(pty.WaitForReceived(all.size() + 1));
}

TEST_F(CommTest, DestroyingAnOpenComponentClosesItsPort) {
  bool raised = false;
  {
    TComm doomed;
    doomed.SetCommName(pty.SlavePath());
    ASSERT_NO_THROW(doomed.OpenPort());
    EXPECT_EQ(ThreadCount(), baseThreads + 2);
    // Output is thrown away, and no event reaches an owner that may be gone.
    doomed.OnSendDataDiscarded = [&](TComm &, quint64) { raised = true; };
    ASSERT_TRUE(pty.HoldOutput(true));
    ASSERT_TRUE(doomed.SendData("x", 1));
  }
  EXPECT_FALSE(raised);
  ASSERT_TRUE(pty.HoldOutput(false));
  EXPECT_EQ(ThreadCount(), baseThreads);
  EXPECT_NO_THROW(comm.OpenPort()) << "the port was released";
}

TEST_F(CommTest, AnOpenIdlePortCostsAlmostNoCpu) {
  OpenAndSettle();
  auto cpuMs = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  };
  const double before = cpuMs();
  QEventLoop loop; // sleeps while nothing arrives
  QTimer::singleShot(2000, &loop, &QEventLoop::quit);
  loop.exec();
  const double used = cpuMs() - before;
  std::printf("CPU time of an open idle port over 2 s: %.2f ms\n", used);
  EXPECT_LT(used, 50.0);
}

// The machine's real UART, with nothing attached: its driver has modem
// lines and error counters, which a pseudo terminal lacks. In the UART's
// loopback mode what it sends comes back as input.
TEST(CommRealUartTest, AnOpenIdlePortSleepsAndStillReads) {
  const QString device = QStringLiteral("/dev/ttyS0");
  if (!QFileInfo::exists(device))
    GTEST_SKIP() << "this machine has no UART at /dev/ttyS0";
  std::thread([] {}).join(); // a sanitizer's own thread is not the port's
  struct Case {
    const char *what;
    bool errorHandler;
  } cases[] = {{"no handlers, as the main window has it", false}, {"line errors watched", true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TComm comm;
    comm.LoadFormValues();
    comm.SetCommName(device);
    int empties = 0;
    QByteArray received;
    std::vector<quint32> errors;
    comm.OnSendDataEmpty = [&](TComm &) { ++empties; };
    comm.OnReceiveData = [&](TComm &, const char *buffer, quint16 length) {
      received.append(buffer, length);
    };
    if (c.errorHandler)
      comm.OnReceiveError = [&](TComm &, quint32 flags) { errors.push_back(flags); };
    const QStringList before = TaskIds();
    try {
      comm.OpenPort();
    } catch (const ECommsError &error) {
      GTEST_SKIP() << "/dev/ttyS0 cannot be opened here (no UART behind it, no permission, or "
                      "another program holds it): "
                   << error.message().toStdString();
    }
    ASSERT_TRUE(WaitUntil([&] { return empties == 1; }));
    QStringList workers;
    for (const QString &task : TaskIds())
      if (!before.contains(task))
        workers.append(task);
    ASSERT_EQ(workers.size(), 2) << "the read and the write thread";

    const quint64 start = ContextSwitches(workers);
    RunEventLoopFor(2000);
    const quint64 wakeUps = ContextSwitches(workers) - start;
    std::printf("%s: wake-ups of the port's threads over 2 s of idleness: %llu\n", c.what,
                static_cast<unsigned long long>(wakeUps));
    EXPECT_LE(wakeUps, 2u);

    const int side = ::open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(side, 0);
    const int loop = 0x8000; // TIOCM_LOOP, which <sys/ioctl.h> leaves out
    ASSERT_EQ(::ioctl(side, TIOCMBIS, &loop), 0);
    EXPECT_TRUE(comm.SendData("looped back", 11));
    EXPECT_TRUE(WaitUntil([&] { return received.size() >= 11; }));
    ::ioctl(side, TIOCMBIC, &loop);
    ::close(side);
    EXPECT_EQ(received, QByteArray("looped back"));
    EXPECT_TRUE(errors.empty());
    comm.ClosePort();
  }
}

} // namespace
} // namespace pellicar
