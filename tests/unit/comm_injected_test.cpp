// TComm over an injected device, for what a pseudo terminal cannot
// produce: line errors, modem-line changes, failing port calls, and the
// exact record handed to the driver.

#include "channels/comm.h"

#include "support/wait.h"

#include <QDir>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace pellicar {
namespace {

using test::RunEventLoopFor;
using test::WaitUntil;

qsizetype ThreadCount() {
  return QDir(QStringLiteral("/proc/self/task"))
      .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
      .size();
}

// Waits without the event loop, so that reports pile up unhandled.
bool WaitWithoutEvents(const std::function<bool()> &condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// What the test sees of, and scripts into, the device the component opens.
struct Line {
  struct Item {
    quint32 events = 0; // a line event, or
    quint32 errors = 0;
    QByteArray data; // input when events is 0
  };

  std::mutex lock;
  std::deque<Item> script;
  std::unique_ptr<TSerialSignal> wake = TSerialSignal::Create(false);
  QByteArray pendingData;
  quint32 pendingErrors = 0;

  // Switches.
  bool setupFails = false;
  bool signalFails = false;
  bool writeFails = false;

  // Records.
  std::vector<TCommState> states;
  std::vector<TCommTimeouts> timeouts;
  std::vector<quint32> purges;
  std::vector<std::string> calls; // order of the setup calls
  std::vector<quint32> eventMasks;
  QByteArray written;
  bool open = false;

  void Inject(Item item) {
    {
      std::lock_guard<std::mutex> guard(lock);
      script.push_back(std::move(item));
    }
    wake->Set();
  }
  QByteArray Written() {
    std::lock_guard<std::mutex> guard(lock);
    return written;
  }
};

class FakeDevice final : public TSerialDevice {
public:
  explicit FakeDevice(std::shared_ptr<Line> line) : line_(std::move(line)) { line_->open = true; }
  ~FakeDevice() override { line_->open = false; }

  std::unique_ptr<TSerialSignal> CreateSignal(bool manualReset) override {
    return line_->signalFails ? nullptr : TSerialSignal::Create(manualReset);
  }
  bool SetupQueues(quint32 in, quint32 out) override {
    line_->calls.push_back("setup " + std::to_string(in) + " " + std::to_string(out));
    return !line_->setupFails;
  }
  bool Purge(quint32 flags) override {
    std::lock_guard<std::mutex> guard(line_->lock);
    line_->purges.push_back(flags);
    return true;
  }
  bool GetState(TCommState &state) override {
    state = TCommState{};
    state.EofChar = 0x1a; // what the driver holds beyond the properties
    state.EvtChar = 0x05;
    state.Flags = comm_flag::kAbortOnError;
    return true;
  }
  bool SetState(const TCommState &state) override {
    line_->calls.push_back("state");
    line_->states.push_back(state);
    return true;
  }
  bool SetTimeouts(const TCommTimeouts &timeouts) override {
    line_->calls.push_back("timeouts");
    line_->timeouts.push_back(timeouts);
    return true;
  }
  quint32 PendingOutput() override { return 0; }
  bool SetEventMask(quint32 mask) override {
    std::lock_guard<std::mutex> guard(line_->lock);
    line_->eventMasks.push_back(mask);
    return (mask & ~0x01A0u) == 0;
  }

  TInputWait WaitInput(const TSerialSignal &stop, quint32 &events) override {
    for (;;) {
      {
        std::lock_guard<std::mutex> guard(line_->lock);
        if (!line_->script.empty()) {
          Line::Item item = std::move(line_->script.front());
          line_->script.pop_front();
          if (item.events == 0) {
            line_->pendingData = item.data;
            return TInputWait::Input;
          }
          events = item.events;
          line_->pendingErrors = item.errors;
          return TInputWait::LineEvent;
        }
      }
      const int woken = WaitForSignals({&stop, line_->wake.get()}, -1);
      if (woken == 0)
        return TInputWait::Stop;
      if (woken != 1)
        return TInputWait::Failed;
    }
  }
  TIoStatus Read(char *buffer, std::size_t size, std::size_t &count,
                 const TSerialSignal &) override {
    std::lock_guard<std::mutex> guard(line_->lock);
    count = std::min(size, std::size_t(line_->pendingData.size()));
    std::copy_n(line_->pendingData.constData(), count, buffer);
    return TIoStatus::Ok;
  }
  TIoStatus ClearError(quint32 &errors) override {
    std::lock_guard<std::mutex> guard(line_->lock);
    errors = line_->pendingErrors;
    return TIoStatus::Ok;
  }
  TIoStatus Write(const char *data, std::size_t size, std::size_t &written,
                  const TSerialSignal &) override {
    std::lock_guard<std::mutex> guard(line_->lock);
    if (line_->writeFails)
      return TIoStatus::Failed;
    // Short writes, to see them continued.
    written = std::min<std::size_t>(size, 5);
    line_->written.append(data, qsizetype(written));
    return TIoStatus::Ok;
  }
  TIoStatus WaitUntilSent(const TSerialSignal &) override { return TIoStatus::Ok; }

private:
  std::shared_ptr<Line> line_;
};

struct Opener {
  std::shared_ptr<Line> line = std::make_shared<Line>();
  TSerialOpenError fail = TSerialOpenError::None;

  TSerialDeviceOpener Function() {
    return [this](const QString &, TSerialOpenError &error) -> std::unique_ptr<TSerialDevice> {
      error = fail;
      if (fail != TSerialOpenError::None)
        return nullptr;
      return std::make_unique<FakeDevice>(line);
    };
  }
};

class CommInjectedTest : public ::testing::Test {
protected:
  void SetUp() override {
    // A first thread makes a sanitizer start its own, so that it is in the
    // count from the start.
    std::thread([] {}).join();
    baseThreads = ThreadCount();
    comm.LoadFormValues();
    comm.OnReceiveData = [this](TComm &, const char *buffer, quint16 length) {
      reports.push_back("data " + std::string(buffer, length));
    };
    comm.OnReceiveError = [this](TComm &, quint32 mask) {
      reports.push_back("error " + std::to_string(mask));
    };
    comm.OnModemStateChange = [this](TComm &, quint32 bits) {
      reports.push_back("modem " + std::to_string(bits));
    };
    comm.OnRequestHangup = [this](TComm &) { reports.push_back("hangup"); };
  }

  Line &line() { return *opener.line; }

  Opener opener;
  TComm comm{opener.Function()};
  std::vector<std::string> reports;
  qsizetype baseThreads = 0;
};

TEST_F(CommInjectedTest, OpenAppliesTimeoutsThenTheWholeRecord) {
  comm.SetParity(TParity::Even);
  ASSERT_NO_THROW(comm.OpenPort());
  EXPECT_EQ(line().calls, (std::vector<std::string>{"setup 4096 4096", "timeouts", "state"}));
  ASSERT_FALSE(line().purges.empty());
  EXPECT_EQ(line().purges.front(), comm_purge::kRxAbort | comm_purge::kRxClear)
      << "the output of a previous writer is kept";

  const TCommTimeouts &t = line().timeouts.back();
  EXPECT_EQ(t.ReadIntervalTimeout, 100u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant +
                t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant,
            0u);

  const TCommState &s = line().states.back();
  EXPECT_EQ(s.BaudRate, 19200u);
  EXPECT_EQ(s.Flags, 0x1211u) << "binary, DTR on, input XON/XOFF, RTS on; abort-on-error cleared";
  EXPECT_EQ(s.XonLim, 500);
  EXPECT_EQ(s.XoffLim, 500);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 2);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_EQ(s.XonChar, 0x11);
  EXPECT_EQ(s.XoffChar, 0x13);
  EXPECT_EQ(s.ErrorChar, 0);
  EXPECT_EQ(s.EofChar, 0x1a);
  EXPECT_EQ(s.EvtChar, 0x05);
}

TEST_F(CommInjectedTest, FlagWordFollowsTheProperties) {
  struct Case {
    const char *what;
    bool formValues;
    std::function<void(TComm &)> set;
    quint32 flags;
  } cases[] = {
      {"constructor defaults", false, [](TComm &) {}, 0x1391},
      {"form values", true, [](TComm &) {}, 0x1211},
      {"everything on", true,
       [](TComm &c) {
         c.SetParityCheck(true);
         c.SetOutx_CtsFlow(true);
         c.SetOutx_DsrFlow(true);
         c.SetDtrControl(TDtrControl::DtrHandshake);
         c.SetDsrSensitivity(true);
         c.SetTxContinueOnXoff(true);
         c.SetOutx_XonXoffFlow(true);
         c.SetReplaceWhenParityError(true);
         c.SetIgnoreNullChar(true);
         c.SetRtsControl(TRtsControl::RtsTransmissionAvailable);
       },
       0x3FEF},
      {"DTR and RTS off, no XON/XOFF", true,
       [](TComm &c) {
         c.SetDtrControl(TDtrControl::DtrDisable);
         c.SetRtsControl(TRtsControl::RtsDisable);
         c.SetInx_XonXoffFlow(false);
       },
       0x0001},
      {"RTS handshake", true, [](TComm &c) { c.SetRtsControl(TRtsControl::RtsHandshake); }, 0x2211},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Opener fresh;
    TComm other(fresh.Function());
    if (c.formValues)
      other.LoadFormValues();
    c.set(other);
    ASSERT_NO_THROW(other.OpenPort());
    EXPECT_EQ(fresh.line->states.back().Flags, c.flags);
    EXPECT_EQ(fresh.line->states.back().BaudRate, c.formValues ? 19200u : 9600u);
  }
}

TEST_F(CommInjectedTest, SettersReapplyOnlyWhatChangedAndOnlyWhileOpen) {
  comm.SetBaudRate(38400); // closed: stored only
  ASSERT_NO_THROW(comm.OpenPort());
  const std::size_t states = line().states.size();
  const std::size_t timeouts = line().timeouts.size();
  EXPECT_EQ(line().states.back().BaudRate, 38400u);

  comm.SetBaudRate(38400);
  comm.SetXonLimit(500);
  comm.SetReadIntervalTimeout(100);
  comm.SetParity(TParity::Odd);
  comm.SetCommName(QStringLiteral("elsewhere"));
  EXPECT_EQ(line().states.size(), states);
  EXPECT_EQ(line().timeouts.size(), timeouts);

  comm.SetXoffLimit(100);
  ASSERT_EQ(line().states.size(), states + 1);
  EXPECT_EQ(line().states.back().XoffLim, 100);
  EXPECT_EQ(line().states.back().Parity, 1) << "the new parity rides along";

  comm.SetWriteTotalTimeoutConstant(250);
  ASSERT_EQ(line().timeouts.size(), timeouts + 1);
  EXPECT_EQ(line().timeouts.back().WriteTotalTimeoutConstant, 250u);
  EXPECT_EQ(line().states.size(), states + 1);
}

// Watching the modem lines costs the Linux driver a look every 100 ms; the
// main window assigns no handler, and its open port must sleep.
TEST_F(CommInjectedTest, OnlyTheLineEventsSomeoneListensToAreWatched) {
  struct Case {
    bool errorHandler;
    bool modemHandler;
    quint32 mask;
  } cases[] = {
      {false, false, 0}, {true, false, 0x0080}, {false, true, 0x0120}, {true, true, 0x01A0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mask);
    Opener fresh;
    TComm other(fresh.Function());
    if (c.errorHandler)
      other.OnReceiveError = [](TComm &, quint32) {};
    if (c.modemHandler)
      other.OnModemStateChange = [](TComm &, quint32) {};
    ASSERT_NO_THROW(other.OpenPort());
    other.ClosePort(); // the read thread sets its mask first thing, and has ended here
    EXPECT_EQ(fresh.line->eventMasks, std::vector<quint32>{c.mask});
  }
}

TEST_F(CommInjectedTest, LineEventsAreReportedAndReadingGoesOn) {
  ASSERT_NO_THROW(comm.OpenPort());
  line().Inject({comm_event::kErr, comm_error::kFrame | comm_error::kOverrun, {}});
  line().Inject({0, 0, QByteArray("after")});
  line().Inject({comm_event::kRlsd, 0, {}});
  line().Inject({comm_event::kRing, 0, {}});
  line().Inject({comm_event::kRlsd | comm_event::kRing, 0, {}});
  line().Inject({comm_event::kErr | comm_event::kRlsd, comm_error::kBreak, {}});
  line().Inject({0, 0, QByteArray("end")});
  const std::vector<std::string> expected{"error 10", "data after", "modem 8", "modem 4",
                                          "modem 12", "error 16",   "modem 8", "data end"};
  ASSERT_TRUE(WaitUntil([&] { return reports.size() >= expected.size(); }));
  EXPECT_EQ(reports, expected);
}

TEST_F(CommInjectedTest, ALineEventWithNothingInItEndsOnlyTheReadThread) {
  ASSERT_NO_THROW(comm.OpenPort());
  line().Inject({0, 0, QByteArray()}); // a read that brings nothing: no report
  line().Inject({0x0004, 0, {}});      // an event outside the mask
  ASSERT_TRUE(WaitUntil([&] { return reports.size() == 1; }));
  EXPECT_EQ(reports[0], "hangup");
  ASSERT_TRUE(WaitUntil([&] { return ThreadCount() == baseThreads + 1; }));
  line().Inject({0, 0, QByteArray("lost")});

  // The write thread goes on.
  ASSERT_TRUE(comm.SendData("0123456789AB", 12));
  ASSERT_TRUE(WaitUntil([&] { return line().Written().size() == 12; }));
  EXPECT_EQ(line().Written(), QByteArray("0123456789AB")) << "short writes are continued";
  RunEventLoopFor(50);
  EXPECT_EQ(reports.size(), 1u);
}

TEST_F(CommInjectedTest, AFailedWriteEndsOnlyTheWriteThread) {
  int empties = 0;
  comm.OnSendDataEmpty = [&](TComm &) { ++empties; };
  line().writeFails = true;
  ASSERT_NO_THROW(comm.OpenPort());
  ASSERT_TRUE(WaitUntil([&] { return empties == 1; }));
  ASSERT_TRUE(comm.SendData("SET", 3));
  ASSERT_TRUE(WaitUntil([&] { return reports.size() == 1 && ThreadCount() == baseThreads + 1; }));
  EXPECT_EQ(reports[0], "hangup");
  EXPECT_FALSE(comm.SendData("SET", 3)) << "nobody takes requests any more";

  line().Inject({0, 0, QByteArray("still read")});
  ASSERT_TRUE(WaitUntil([&] { return reports.size() == 2; }));
  EXPECT_EQ(reports[1], "data still read");
  RunEventLoopFor(50);
  EXPECT_EQ(empties, 1) << "not after a failed write";
}

TEST_F(CommInjectedTest, ReportsOfAClosedPortAreNotRaised) {
  // Both threads give up before the main thread looks; the handler closes
  // the port on the first hang-up, and the second is not raised.
  int hangups = 0;
  comm.OnRequestHangup = [&](TComm &sender) {
    ++hangups;
    sender.ClosePort();
  };
  line().writeFails = true;
  ASSERT_NO_THROW(comm.OpenPort());
  ASSERT_TRUE(comm.SendData("SET", 3));
  line().Inject({0x0004, 0, {}});
  ASSERT_TRUE(WaitWithoutEvents([&] { return ThreadCount() == baseThreads; }));
  ASSERT_TRUE(WaitUntil([&] { return hangups >= 1; }));
  RunEventLoopFor(50);
  EXPECT_EQ(hangups, 1);
  EXPECT_FALSE(comm.Opened());
}

TEST_F(CommInjectedTest, FailedOpensCloseWhatTheyOpened) {
  struct Case {
    const char *message;
    std::function<void()> arrange;
  } cases[] = {
      {"Error opening serial port", [&] { opener.fail = TSerialOpenError::CannotOpen; }},
      {"File handle is not a comm handle ", [&] { opener.fail = TSerialOpenError::NotComm; }},
      {"Cannot setup comm buffer", [&] { line().setupFails = true; }},
      {"Unable to create event", [&] { line().signalFails = true; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    c.arrange();
    try {
      comm.OpenPort();
      ADD_FAILURE() << "OpenPort did not raise";
    } catch (const ECommsError &error) {
      EXPECT_EQ(error.message(), QString::fromLatin1(c.message));
    }
    EXPECT_FALSE(line().open);
    EXPECT_FALSE(comm.Opened());
    EXPECT_FALSE(comm.SendData("x", 1));
    EXPECT_EQ(ThreadCount(), baseThreads);

    opener.fail = TSerialOpenError::None;
    line().setupFails = line().signalFails = false;
    ASSERT_NO_THROW(comm.OpenPort());
    comm.ClosePort();
    EXPECT_FALSE(line().open);
  }
}

} // namespace
} // namespace pellicar
