#pragma once

#include "channels/hidden_window.h"
#include "platform/serial_device.h"

#include <QByteArray>
#include <QEvent>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace pellicar {

// The component's window. Qt's event queue hands each report from the
// posting thread to the main thread under a lock that ThreadSanitizer
// cannot see. Posting under a lock of our own (the two threads would
// otherwise meet unseen in the queue's storage), with a release there and
// an acquire on delivery, makes the hand-over visible in the language's
// terms. It costs an uncontended lock and one atomic operation a report.
class TCommWindow final : public THiddenWindow {
public:
  using THiddenWindow::THiddenWindow;

  // Any thread.
  void PostReport(QEvent *event) {
    std::lock_guard<std::mutex> lock(postLock_);
    posted_.fetch_add(1, std::memory_order_release);
    Post(event);
  }

protected:
  bool event(QEvent *event) override {
    (void)posted_.load(std::memory_order_acquire);
    return THiddenWindow::event(event);
  }

private:
  std::mutex postLock_;
  std::atomic<quint64> posted_{0};
};

// The reports the serial threads post to their component's window. Each
// kind is a QEvent type of its own:
// - DataReceived: TPayloadEvent<QByteArray>, 1..2048 bytes (the array
//   keeps a 0 byte after them); the event owns the block.
// - ReceiveError: TPayloadEvent<quint32>, the comm_error flags.
// - Hangup: QEvent; the thread met a failure and has stopped or is stopping.
// - ModemStateChange: TPayloadEvent<quint32>, 8 = carrier detect changed,
//   4 = ring indicated, both may be set.
// - SendDataEmpty: QEvent; the write queue has run empty.
// Posting to a window cannot fail, so no post reports failure.
class TCommReporter {
public:
  static constexpr quint32 kModemCarrierDetect = 8;
  static constexpr quint32 kModemRing = 4;

  static QEvent::Type DataReceived();
  static QEvent::Type ReceiveError();
  static QEvent::Type Hangup();
  static QEvent::Type ModemStateChange();
  static QEvent::Type SendDataEmpty();

  explicit TCommReporter(TCommWindow &window) : window_(window) {}

  // Any thread.
  void PostDataReceived(const char *bytes, std::size_t count);
  void PostReceiveError(quint32 errors);
  void PostHangup();
  void PostModemStateChange(quint32 bits);
  void PostSendDataEmpty();

private:
  TCommWindow &window_;
};

// What the two threads have in common: an OS thread running Run() once,
// started on request, waited for with a bound, joined on destruction.
class TCommThread {
public:
  TCommThread(TSerialDevice &port, const TSerialSignal &stop, TCommReporter &reports)
      : port_(port), stop_(stop), reports_(reports) {}
  virtual ~TCommThread(); // waits until the thread has ended
  TCommThread(const TCommThread &) = delete;
  TCommThread &operator=(const TCommThread &) = delete;

  // Main thread. Starts the thread; false when the system cannot create
  // it. The system's default scheduler has no thread priorities, so the
  // threads run at the process's own.
  bool Start();
  // Main thread. True when the thread has ended within `timeoutMs`.
  bool WaitFor(int timeoutMs);
  // Any thread: the body has returned.
  bool Ended() const;

protected:
  virtual void Run() = 0;
  // Waits until the thread has ended. Each class that adds members calls
  // it from its destructor, before they go.
  void Join();

  TSerialDevice &port_;
  const TSerialSignal &stop_;
  TCommReporter &reports_;

private:
  void Body();

  std::thread thread_;
  mutable std::mutex lock_;
  std::condition_variable endedChanged_;
  bool ended_ = false;
};

// Keeps one read pending on the port together with a wait for the line
// events in `lineEvents` (comm_event bits: carrier detect, ring, line
// errors), and reports what they bring, until the stop signal is set or a
// failure ends it (after a hang-up report). Input is read in blocks of at
// most 2048 bytes.
class TReadThread final : public TCommThread {
public:
  static constexpr std::size_t kBlockSize = 2048;
  TReadThread(TSerialDevice &port, const TSerialSignal &stop, TCommReporter &reports,
              quint32 lineEvents)
      : TCommThread(port, stop, reports), lineEvents_(lineEvents) {}
  ~TReadThread() override;

protected:
  void Run() override;

private:
  bool FinishRead();
  bool HandleLineEvent(quint32 events);

  const quint32 lineEvents_;
  char buffer_[kBlockSize];
};

// Writes the requests queued to it, each whole and in the order queued,
// until the stop signal is set or a write fails (after a hang-up report).
// Reports "send data empty" when it starts and each time its queue runs dry
// after a write. It leaves what the driver holds to its owner, which counts
// it before it purges (see UnwrittenBytes).
class TWriteThread final : public TCommThread {
public:
  // The most the thread holds unwritten. The window's largest command is a
  // few hundred bytes; a mebibyte is over nine minutes of output at 19200
  // baud, far more than a close could still send.
  static constexpr std::size_t kQueueLimit = std::size_t(1) << 20;

  TWriteThread(TSerialDevice &port, const TSerialSignal &stop, TCommReporter &reports);
  ~TWriteThread() override;

  // Main thread. Queues a request; the thread owns the bytes from here on
  // and releases them written or not. False, taking nothing, when the
  // thread has ended, its queue could not be set up, or it would then hold
  // more than kQueueLimit bytes unwritten.
  bool PostWrite(QByteArray bytes);

  // Main thread. Asks the thread to finish what is queued and wait until
  // the driver has sent it; true when that happened within `timeoutMs`.
  // False at once when the thread has ended.
  bool Drain(int timeoutMs);

  // Any thread: bytes accepted and not handed to the driver: those queued,
  // the rest of the request being written and, once the thread has ended,
  // everything it dropped.
  std::size_t UnwrittenBytes() const;

protected:
  void Run() override;

private:
  struct Request {
    bool drain = false;
    QByteArray bytes;
  };

  bool Queue(Request request);
  bool Take(Request &request);
  bool WriteBlock(const QByteArray &bytes);
  void Close();

  std::unique_ptr<TSerialSignal> wake_; // set on every request queued
  mutable std::mutex queueLock_;
  std::condition_variable drained_;
  std::deque<Request> queue_;
  std::size_t unwrittenBytes_ = 0;
  bool closed_ = false;
  quint64 drainsAsked_ = 0; // main thread, under queueLock_
  quint64 drainsDone_ = 0;
  bool lastDrainSent_ = false; // the driver sent everything for the last drain
};

} // namespace pellicar
