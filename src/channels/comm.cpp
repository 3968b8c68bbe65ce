#include "channels/comm.h"

#include "channels/comm_threads.h"
#include "channels/hidden_window.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace pellicar {

namespace {

constexpr quint32 kQueueSize = 4096;
// The longest ClosePort waits for each thread, the write thread's wait for
// its output to go out included.
constexpr int kThreadStopMs = 10000;
// What a stopped thread needs to end: each of its waits includes the stop
// signal, so it ends within milliseconds; this leaves room on a loaded
// machine.
constexpr int kThreadEndMs = 500;
// The longest wait for queued output at close: the write thread's share,
// less the time it needs to end afterwards.
constexpr int kDrainLimitMs = kThreadStopMs - kThreadEndMs;
// Added to the time the output needs at the line's speed: the driver and
// the UART hold a little more than they report.
constexpr int kDrainGraceMs = 1000;

[[noreturn]] void Fail(const char *message) { throw ECommsError(QString::fromLatin1(message)); }

} // namespace

TComm::TComm() : TComm(TSerialDeviceOpener(&OpenSerialDevice)) {}

TComm::TComm(TSerialDeviceOpener opener)
    : opener_(std::move(opener)),
      window_(std::make_unique<TCommWindow>([this](QEvent &event) { HandleReport(event); })),
      reports_(std::make_unique<TCommReporter>(*window_)) {
  // The report types are registered here, on the main thread, before any
  // thread posts one.
  TCommReporter::DataReceived();
  TCommReporter::ReceiveError();
  TCommReporter::Hangup();
  TCommReporter::ModemStateChange();
  TCommReporter::SendDataEmpty();
}

TComm::~TComm() {
  OnSendDataDiscarded = nullptr;
  ClosePort();
}

void TComm::LoadFormValues() {
  SetCommName(QStringLiteral("COM4"));
  SetBaudRate(19200);
  SetTxContinueOnXoff(false);
  SetOutx_XonXoffFlow(false);
}

void TComm::OpenPort() {
  if (device_)
    Fail("This serial port already opened");

  TSerialOpenError error = TSerialOpenError::None;
  std::unique_ptr<TSerialDevice> device = opener_(commName_, error);
  if (!device)
    Fail(error == TSerialOpenError::NotComm ? "File handle is not a comm handle "
                                            : "Error opening serial port");
  if (!device->SetupQueues(kQueueSize, kQueueSize))
    Fail("Cannot setup comm buffer");

  device_ = std::move(device);
  // Only what arrived before is thrown away. The output side may still
  // hold what the last writer of this port wrote and saw drained (a USB
  // adapter's buffer, a pseudo terminal's other end not yet read):
  // purging it would drop bytes already reported sent.
  device_->Purge(comm_purge::kRxAbort | comm_purge::kRxClear);
  ApplyCommTimeouts();
  ApplyCommState();

  stop_ = device_->CreateSignal(true);
  if (!stop_) {
    device_.reset();
    Fail("Unable to create event");
  }

  quint32 lineEvents = 0;
  if (OnReceiveError)
    lineEvents |= comm_event::kErr;
  if (OnModemStateChange)
    lineEvents |= comm_event::kRlsd | comm_event::kRing;
  readThread_ = std::make_unique<TReadThread>(*device_, *stop_, *reports_, lineEvents);
  if (!readThread_->Start()) {
    readThread_.reset();
    ReleasePort();
    Fail("Unable to create read thread");
  }
  // The write thread's queue exists before the thread runs, so that a
  // SendData right after OpenPort is never refused.
  writeThread_ = std::make_unique<TWriteThread>(*device_, *stop_, *reports_);
  if (!writeThread_->Start()) {
    writeThread_.reset();
    StopReadThread();
    ReleasePort();
    Fail("Unable to create write thread");
  }
}

void TComm::ClosePort() {
  if (!device_)
    return;
  // What was queued still goes out (a command sent just before the close
  // must reach the printer), within the time the line needs for it.
  const auto start = std::chrono::steady_clock::now();
  const bool drained = writeThread_ && writeThread_->Drain(DrainBoundMs());
  const auto drainMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  StopReadThread();
  const quint64 discarded =
      StopWriteThread(drained, int(std::max<long long>(kThreadStopMs - drainMs, kThreadEndMs)));
  ReleasePort();
  if (discarded > 0 && OnSendDataDiscarded)
    OnSendDataDiscarded(*this, discarded);
}

void TComm::StopReadThread() {
  if (!readThread_)
    return;
  stop_->Set();
  device_->Purge(comm_purge::kRxAbort | comm_purge::kRxClear);
  readThread_->WaitFor(kThreadStopMs);
  readThread_.reset(); // waits until the thread has ended
}

// The stop signal ends a write in progress, so the thread has ended before
// the purge, and what the driver held can be counted first. Purged only
// when output was left behind: once the driver has sent everything, a purge
// could only discard what the other side has not yet read.
quint64 TComm::StopWriteThread(bool drained, int timeoutMs) {
  if (!writeThread_)
    return 0;
  stop_->Set();
  writeThread_->WaitFor(timeoutMs);
  quint64 discarded = writeThread_->UnwrittenBytes();
  if (!drained) {
    discarded += device_->PendingOutput();
    device_->Purge(comm_purge::kTxAbort | comm_purge::kTxClear);
  }
  writeThread_.reset();
  return discarded;
}

void TComm::ReleasePort() {
  stop_.reset();
  device_.reset();
  // Reports still queued speak of the port just closed; raised now they
  // would be taken for the next one.
  window_->DiscardPosted();
}

// From the line as the driver set it up: a speed it refused is not the
// line's speed.
int TComm::DrainBoundMs() const {
  TCommState line;
  if (!device_->GetState(line) || line.BaudRate == 0)
    return kDrainLimitMs;
  const quint64 bytes = quint64(writeThread_->UnwrittenBytes()) + device_->PendingOutput();
  const quint64 bitsPerChar =
      1 + quint64(line.ByteSize) + (line.Parity != 0 ? 1 : 0) + (line.StopBits == 0 ? 1 : 2);
  const quint64 ms = bytes * bitsPerChar * 1000 / line.BaudRate + 1 + kDrainGraceMs;
  return int(std::min<quint64>(ms, kDrainLimitMs));
}

bool TComm::SendData(const char *buffer, quint16 length) {
  if (!writeThread_ || length == 0)
    return false;
  return writeThread_->PostWrite(QByteArray(buffer, length));
}

bool TComm::SendData(const QByteArray &bytes) {
  if (bytes.size() > std::numeric_limits<quint16>::max())
    return false;
  return SendData(bytes.constData(), quint16(bytes.size()));
}

quint64 TComm::UnwrittenBytes() const { return writeThread_ ? writeThread_->UnwrittenBytes() : 0; }

void TComm::ApplyCommState() {
  if (!device_)
    return;
  TCommState state;
  device_->GetState(state); // keeps what the record holds beyond the properties

  quint32 flags = comm_flag::kBinary;
  if (parityCheck_)
    flags |= comm_flag::kParity;
  if (outxCtsFlow_)
    flags |= comm_flag::kOutxCtsFlow;
  if (outxDsrFlow_)
    flags |= comm_flag::kOutxDsrFlow;
  switch (dtrControl_) {
  case TDtrControl::DtrEnable:
    flags |= comm_flag::kDtrEnable;
    break;
  case TDtrControl::DtrDisable:
    break;
  case TDtrControl::DtrHandshake:
    flags |= comm_flag::kDtrHandshake;
    break;
  }
  if (dsrSensitivity_)
    flags |= comm_flag::kDsrSensitivity;
  if (txContinueOnXoff_)
    flags |= comm_flag::kTxContinueOnXoff;
  if (outxXonXoffFlow_)
    flags |= comm_flag::kOutX;
  if (inxXonXoffFlow_)
    flags |= comm_flag::kInX;
  if (replaceWhenParityError_)
    flags |= comm_flag::kErrorChar;
  if (ignoreNullChar_)
    flags |= comm_flag::kNull;
  switch (rtsControl_) {
  case TRtsControl::RtsEnable:
    flags |= comm_flag::kRtsEnable;
    break;
  case TRtsControl::RtsDisable:
    break;
  case TRtsControl::RtsHandshake:
    flags |= comm_flag::kRtsHandshake;
    break;
  case TRtsControl::RtsTransmissionAvailable:
    flags |= comm_flag::kRtsToggle;
    break;
  }

  state.BaudRate = baudRate_;
  state.Flags = flags;
  state.XonLim = xonLimit_;
  state.XoffLim = xoffLimit_;
  state.ByteSize = quint8(int(byteSize_) + 5);
  state.Parity = quint8(parity_);
  state.StopBits = quint8(stopBits_);
  state.XonChar = xonChar_;
  state.XoffChar = xoffChar_;
  state.ErrorChar = replacedChar_;
  // A record the driver refuses (an unsupported speed) leaves the line as
  // it was; nobody is told.
  device_->SetState(state);
}

void TComm::ApplyCommTimeouts() {
  if (device_)
    device_->SetTimeouts(timeouts_);
}

void TComm::HandleReport(QEvent &event) {
  const QEvent::Type type = event.type();
  if (type == TCommReporter::DataReceived()) {
    // The block goes with the event, handler or not.
    const QByteArray &block = static_cast<TPayloadEvent<QByteArray> &>(event).payload();
    if (OnReceiveData)
      OnReceiveData(*this, block.constData(), quint16(block.size()));
  } else if (type == TCommReporter::ReceiveError()) {
    if (OnReceiveError)
      OnReceiveError(*this, static_cast<TPayloadEvent<quint32> &>(event).payload());
  } else if (type == TCommReporter::Hangup()) {
    if (OnRequestHangup)
      OnRequestHangup(*this);
  } else if (type == TCommReporter::ModemStateChange()) {
    if (OnModemStateChange)
      OnModemStateChange(*this, static_cast<TPayloadEvent<quint32> &>(event).payload());
  } else if (type == TCommReporter::SendDataEmpty()) {
    if (OnSendDataEmpty)
      OnSendDataEmpty(*this);
  }
}

} // namespace pellicar
