#include "channels/serial_printer_link.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace pellicar {

namespace {

// The read interval that makes a read return with what has arrived.
constexpr quint32 kTakeWhatIsThere = 0xFFFFFFFF;

} // namespace

TSerialPrinterLink::TSerialPrinterLink(const QString &device, quint32 baudRate, int parityIndex) {
  comm_.LoadFormValues();
  comm_.SetCommName(device);
  comm_.SetBaudRate(baudRate);
  const TParity parities[] = {TParity::None, TParity::Odd, TParity::Even};
  comm_.SetParity(parities[std::clamp(parityIndex, 0, 2)]);
  // An answer is one byte: the read thread hands on what is there at once,
  // rather than after the line has been quiet for the window's interval.
  comm_.SetReadIntervalTimeout(kTakeWhatIsThere);
  comm_.OnReceiveData = [this](TComm &, const char *buffer, quint16 length) {
    received_.append(buffer, length);
    if (waiting_)
      waiting_->quit();
  };
  comm_.OnRequestHangup = [this](TComm &) {
    hungUp_ = true;
    if (waiting_)
      waiting_->quit();
  };
  comm_.OnSendDataEmpty = [this](TComm &) {
    emptied_ = true;
    if (waiting_)
      waiting_->quit();
  };
  comm_.OnSendDataDiscarded = [this](TComm &, quint64 bytes) { discarded_ += bytes; };
  try {
    comm_.OpenPort();
  } catch (const ECommsError &e) {
    throw EPrinterLinkError(e.message());
  }
  if (AwaitReport(QDeadlineTimer(kStartReportMs)) == Report::Hangup) {
    comm_.ClosePort();
    throw EPrinterLinkError(QStringLiteral("the port failed as it was opened"));
  }
}

TSerialPrinterLink::~TSerialPrinterLink() { Close(); }

quint64 TSerialPrinterLink::Close() {
  comm_.ClosePort();
  const quint64 discarded = discarded_;
  discarded_ = 0;
  return discarded;
}

QString TSerialPrinterLink::LossNote(qint64, qint64 total, quint64 lost) const {
  if (lost == 0)
    return QString();
  return QStringLiteral(" (%1 of %2 bytes were not written to the port)").arg(lost).arg(total);
}

void TSerialPrinterLink::Send(const QByteArray &bytes, const QDeadlineTimer &) {
  // Queued to the write thread, which writes it at once: Drain, or the
  // answer's deadline, covers the rest.
  emptied_ = false;
  if (hungUp_ || !comm_.SendData(bytes))
    throw EPrinterLinkError(QStringLiteral("the port did not take the commands"));
}

void TSerialPrinterLink::Drain(const QDeadlineTimer &deadline) {
  // The bound as the caller gave it (a deadline made a moment ago has a
  // few microseconds less left): to the hundredth of a second.
  const qint64 boundMs = (deadline.remainingTime() + 5) / 10 * 10;
  switch (AwaitReport(deadline)) {
  case Report::QueueEmpty:
    return;
  case Report::Hangup:
    throw EPrinterLinkError(QStringLiteral("writing to the port failed"));
  case Report::TimedOut:
  case Report::None:
    break;
  }
  throw ELinkStalled(QStringLiteral("timed out after %1 s waiting for the port to take the data")
                         .arg(Seconds(boundMs)));
}

TSerialPrinterLink::Report TSerialPrinterLink::AwaitReport(const QDeadlineTimer &deadline) {
  // A report of an empty queue posted before the last Send was read only
  // now: the queue runs dry again later, and reports it then.
  const auto empty = [this] {
    if (emptied_ && comm_.UnwrittenBytes() > 0)
      emptied_ = false;
    return emptied_;
  };
  if (!empty() && !hungUp_ && !deadline.hasExpired()) {
    QEventLoop loop;
    waiting_ = &loop;
    while (!empty() && !hungUp_ && !deadline.hasExpired())
      RunEventLoopUntil(loop, deadline);
    waiting_ = nullptr;
  }
  if (hungUp_)
    return Report::Hangup;
  return emptied_ ? Report::QueueEmpty : Report::TimedOut;
}

bool TSerialPrinterLink::Receive(QByteArray &into, const QDeadlineTimer &deadline) {
  if (received_.isEmpty() && !hungUp_ && !deadline.hasExpired()) {
    QEventLoop loop;
    waiting_ = &loop;
    // Other reports (the write queue ran empty) wake the loop too.
    while (received_.isEmpty() && !hungUp_ && !deadline.hasExpired())
      RunEventLoopUntil(loop, deadline);
    waiting_ = nullptr;
  }
  if (!received_.isEmpty()) {
    into += received_;
    received_.clear();
    return true;
  }
  if (hungUp_)
    throw EPrinterLinkError(QStringLiteral("the port failed (the line hung up)"));
  return false;
}

} // namespace pellicar
