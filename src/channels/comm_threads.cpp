#include "channels/comm_threads.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace pellicar {

QEvent::Type TCommReporter::DataReceived() {
  static const QEvent::Type type = RegisterEventType();
  return type;
}

QEvent::Type TCommReporter::ReceiveError() {
  static const QEvent::Type type = RegisterEventType();
  return type;
}

QEvent::Type TCommReporter::Hangup() {
  static const QEvent::Type type = RegisterEventType();
  return type;
}

QEvent::Type TCommReporter::ModemStateChange() {
  static const QEvent::Type type = RegisterEventType();
  return type;
}

QEvent::Type TCommReporter::SendDataEmpty() {
  static const QEvent::Type type = RegisterEventType();
  return type;
}

void TCommReporter::PostDataReceived(const char *bytes, std::size_t count) {
  window_.PostReport(
      new TPayloadEvent<QByteArray>(DataReceived(), QByteArray(bytes, qsizetype(count))));
}

void TCommReporter::PostReceiveError(quint32 errors) {
  window_.PostReport(new TPayloadEvent<quint32>(ReceiveError(), errors));
}

void TCommReporter::PostHangup() { window_.PostReport(new QEvent(Hangup())); }

void TCommReporter::PostModemStateChange(quint32 bits) {
  window_.PostReport(new TPayloadEvent<quint32>(ModemStateChange(), bits));
}

void TCommReporter::PostSendDataEmpty() { window_.PostReport(new QEvent(SendDataEmpty())); }

// ---------------------------------------------------------------------------

TCommThread::~TCommThread() { Join(); }

bool TCommThread::Start() {
  try {
    thread_ = std::thread(&TCommThread::Body, this);
  } catch (const std::system_error &) {
    return false;
  }
  return true;
}

bool TCommThread::WaitFor(int timeoutMs) {
  std::unique_lock<std::mutex> lock(lock_);
  return endedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return ended_; });
}

bool TCommThread::Ended() const {
  std::lock_guard<std::mutex> lock(lock_);
  return ended_;
}

void TCommThread::Join() {
  if (thread_.joinable())
    thread_.join();
}

void TCommThread::Body() {
  Run();
  std::lock_guard<std::mutex> lock(lock_);
  ended_ = true;
  endedChanged_.notify_all();
}

// ---------------------------------------------------------------------------

TReadThread::~TReadThread() { Join(); }

void TReadThread::Run() {
  // Received characters are not among the watched events: input is taken
  // by the pending read alone.
  if (!port_.SetEventMask(lineEvents_)) {
    reports_.PostHangup();
  } else {
    bool going = true;
    while (going && !stop_.IsSet()) {
      quint32 events = 0;
      switch (port_.WaitInput(stop_, events)) {
      case TInputWait::Input:
        going = FinishRead();
        break;
      case TInputWait::LineEvent:
        going = HandleLineEvent(events);
        break;
      case TInputWait::Failed:
        reports_.PostHangup();
        going = false;
        break;
      case TInputWait::Stop:
      case TInputWait::Closed:
        going = false;
        break;
      }
    }
  }
  port_.Purge(comm_purge::kRxAbort | comm_purge::kRxClear);
}

bool TReadThread::FinishRead() {
  std::size_t count = 0;
  switch (port_.Read(buffer_, kBlockSize, count, stop_)) {
  case TIoStatus::Ok:
    if (count > 0)
      reports_.PostDataReceived(buffer_, count);
    return true;
  case TIoStatus::TimedOut:
    // The read totals ran out before a byte came: nothing to deliver,
    // read again.
    return true;
  case TIoStatus::Failed:
    reports_.PostHangup();
    return false;
  case TIoStatus::Stopped:
  case TIoStatus::Closed:
    break;
  }
  return false;
}

bool TReadThread::HandleLineEvent(quint32 events) {
  bool result = false;
  if (events & comm_event::kErr) {
    quint32 errors = 0;
    const TIoStatus status = port_.ClearError(errors);
    if (status != TIoStatus::Ok) {
      if (status != TIoStatus::Closed)
        reports_.PostHangup();
      return false;
    }
    reports_.PostReceiveError(errors);
    result = true;
  }
  quint32 modem = 0;
  if (events & comm_event::kRlsd)
    modem |= TCommReporter::kModemCarrierDetect;
  if (events & comm_event::kRing)
    modem |= TCommReporter::kModemRing;
  if (modem != 0) {
    reports_.PostModemStateChange(modem);
    result = true;
  }
  // A wait that ended with none of the watched events: the port is not
  // behaving; give up.
  if (!result)
    reports_.PostHangup();
  return result;
}

// ---------------------------------------------------------------------------

TWriteThread::TWriteThread(TSerialDevice &port, const TSerialSignal &stop, TCommReporter &reports)
    : TCommThread(port, stop, reports), wake_(port.CreateSignal(false)) {}

TWriteThread::~TWriteThread() { Join(); }

bool TWriteThread::PostWrite(QByteArray bytes) { return Queue(Request{false, std::move(bytes)}); }

bool TWriteThread::Drain(int timeoutMs) {
  if (!wake_)
    return false;
  std::unique_lock<std::mutex> lock(queueLock_);
  if (closed_)
    return false;
  const quint64 ticket = ++drainsAsked_;
  queue_.push_back(Request{true, {}});
  lock.unlock();
  wake_->Set();
  lock.lock();
  drained_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                    [&] { return drainsDone_ >= ticket || closed_; });
  return drainsDone_ >= ticket && lastDrainSent_;
}

std::size_t TWriteThread::UnwrittenBytes() const {
  std::lock_guard<std::mutex> lock(queueLock_);
  return unwrittenBytes_;
}

bool TWriteThread::Queue(Request request) {
  if (!wake_)
    return false;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    const std::size_t size = std::size_t(request.bytes.size());
    if (closed_ || size > kQueueLimit - unwrittenBytes_)
      return false;
    unwrittenBytes_ += size;
    queue_.push_back(std::move(request));
  }
  wake_->Set();
  return true;
}

bool TWriteThread::Take(Request &request) {
  std::lock_guard<std::mutex> lock(queueLock_);
  if (queue_.empty())
    return false;
  request = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

// What is dropped here stays counted as unwritten.
void TWriteThread::Close() {
  std::lock_guard<std::mutex> lock(queueLock_);
  closed_ = true;
  queue_.clear();
  drained_.notify_all();
}

// The thread does not purge the driver's output queue when it ends: the
// stop signal alone ends a write in progress here, and the close first
// counts what the driver still holds, then purges it.
void TWriteThread::Run() {
  if (!wake_) {
    reports_.PostHangup();
  } else {
    bool notify = true;
    for (;;) {
      Request request;
      if (!Take(request)) {
        if (notify)
          reports_.PostSendDataEmpty();
        notify = false;
        const int woken = WaitForSignals({&stop_, wake_.get()}, -1);
        if (woken == 0)
          break;
        if (woken == 1)
          continue;
        reports_.PostHangup();
        break;
      }
      // A request taken after the stop is dropped unwritten.
      if (stop_.IsSet())
        break;
      if (request.drain) {
        const bool sent = port_.WaitUntilSent(stop_) == TIoStatus::Ok;
        std::lock_guard<std::mutex> lock(queueLock_);
        ++drainsDone_;
        lastDrainSent_ = sent;
        drained_.notify_all();
        continue;
      }
      if (!WriteBlock(request.bytes))
        break;
      notify = true;
    }
  }
  Close();
}

bool TWriteThread::WriteBlock(const QByteArray &bytes) {
  std::size_t offset = 0;
  const std::size_t length = std::size_t(bytes.size());
  while (offset < length) {
    std::size_t written = 0;
    switch (port_.Write(bytes.constData() + offset, length - offset, written, stop_)) {
    case TIoStatus::Ok: {
      offset += written;
      std::lock_guard<std::mutex> lock(queueLock_);
      unwrittenBytes_ -= std::min(unwrittenBytes_, written);
      break;
    }
    case TIoStatus::Stopped:
    case TIoStatus::Closed:
      return false;
    // TimedOut: nothing went out within the write totals; retrying at once
    // would spin for as long as the line stays blocked.
    case TIoStatus::TimedOut:
    case TIoStatus::Failed:
      reports_.PostHangup();
      return false;
    }
  }
  return true;
}

} // namespace pellicar
