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
  try {
    comm_.OpenPort();
  } catch (const ECommsError &e) {
    throw EPrinterLinkError(e.message());
  }
}

TSerialPrinterLink::~TSerialPrinterLink() { comm_.ClosePort(); }

void TSerialPrinterLink::Send(const QByteArray &bytes, const QDeadlineTimer &) {
  // Queued to the write thread, which writes it at once: the answer's
  // deadline covers the rest.
  if (hungUp_ || !comm_.SendData(bytes))
    throw EPrinterLinkError(QStringLiteral("the port did not take the data"));
}

bool TSerialPrinterLink::Receive(QByteArray &into, const QDeadlineTimer &deadline) {
  if (received_.isEmpty() && !hungUp_ && !deadline.hasExpired()) {
    QEventLoop loop;
    QTimer::singleShot(int(std::min<qint64>(deadline.remainingTime(), 1 << 30)), &loop,
                       &QEventLoop::quit);
    waiting_ = &loop;
    loop.exec();
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
