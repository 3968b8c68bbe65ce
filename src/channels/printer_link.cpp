#include "channels/printer_link.h"

#include "channels/serial_printer_link.h"
#include "channels/stream_printer_link.h"
#include "channels/tcp_printer_link.h"
#include "platform/system_error.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>

namespace pellicar {

namespace {

std::unique_ptr<TPrinterLink> OpenDevice(const ChannelChoice &target) {
  int error = 0;
  std::unique_ptr<StreamLink> link = OpenDeviceLink(target.target, error);
  if (!link) {
    if (error == ENODEV)
      throw EPrinterLinkError(
          QStringLiteral("not a device that reads and writes (a character device); a file "
                         "takes --output"));
    if (error == EBUSY)
      throw EPrinterLinkError(QStringLiteral("in use by another program"));
    throw EPrinterLinkError(QStringLiteral("cannot be opened: %1").arg(SystemErrorDetail(error)));
  }
  return std::make_unique<TStreamPrinterLink>(std::move(link),
                                              QStringLiteral("the device hung up"));
}

} // namespace

QString TPrinterLink::LossNote(qint64 sent, qint64 total, quint64) const {
  if (sent <= 0 || sent >= total)
    return QString();
  return QStringLiteral(" (%1 of %2 bytes written)").arg(sent).arg(total);
}

std::unique_ptr<TPrinterLink> OpenPrinterLink(const ChannelChoice &target,
                                              const QDeadlineTimer &deadline) {
  switch (target.kind) {
  case ChannelChoice::Kind::Tcp:
    return std::make_unique<TTcpPrinterLink>(target.target, target.port, deadline);
  case ChannelChoice::Kind::Serial:
    return std::make_unique<TSerialPrinterLink>(target.target, target.baudRate, target.parityIndex);
  case ChannelChoice::Kind::Device:
    return OpenDevice(target);
  case ChannelChoice::Kind::None:
  case ChannelChoice::Kind::Queue:
  case ChannelChoice::Kind::Output:
    break;
  }
  throw EPrinterLinkError(QStringLiteral("this channel takes bytes but gives no answers"));
}

QString Seconds(qint64 milliseconds) { return QString::number(double(milliseconds) / 1000.0); }

void RunEventLoopUntil(QEventLoop &loop, const QDeadlineTimer &deadline) {
  // A timer of its own for each run: one may fire a little before its
  // time, and a loop run again after that would have nothing to end it.
  QTimer bound;
  bound.setSingleShot(true);
  bound.setTimerType(Qt::PreciseTimer);
  QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
  bound.start(int(std::clamp<qint64>(deadline.remainingTime(), 1, 1 << 30)));
  loop.exec();
}

} // namespace pellicar
