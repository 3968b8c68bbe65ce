#include "channels/printer_link.h"

#include "channels/serial_printer_link.h"
#include "channels/stream_printer_link.h"
#include "platform/host_resolver.h"
#include "platform/system_error.h"
#include "platform/tcp_socket.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace pellicar {

namespace {

// A lookup's answer, waited for on the caller's thread.
struct LookupWait {
  std::mutex lock;
  std::condition_variable answered;
  std::optional<HostResolver::Result> result;
};

[[noreturn]] void LookupFailed(int error) {
  throw EPrinterLinkError(
      QStringLiteral("the host could not be looked up: %1").arg(SystemErrorDetail(error)));
}

quint32 LookUp(const QString &host, const QDeadlineTimer &deadline) {
  quint32 address = 0;
  if (ParseDottedAddress(host, address))
    return address;
  const std::shared_ptr<HostResolver> resolver = SystemHostResolver();
  auto wait = std::make_shared<LookupWait>();
  int error = 0;
  const HostResolver::LookupId id = resolver->LookupHost(
      host,
      [wait](const HostResolver::Result &result) {
        std::lock_guard<std::mutex> hold(wait->lock);
        wait->result = result;
        wait->answered.notify_all();
      },
      error);
  if (id == 0)
    LookupFailed(error);
  std::unique_lock<std::mutex> hold(wait->lock);
  wait->answered.wait_until(hold, deadline.deadline<std::chrono::steady_clock>(),
                            [&] { return wait->result.has_value(); });
  if (!wait->result) {
    hold.unlock();
    resolver->Cancel(id);
    throw EPrinterLinkError(QStringLiteral("timed out looking the host up"));
  }
  if (wait->result->error != 0)
    LookupFailed(wait->result->error);
  return wait->result->address;
}

std::unique_ptr<TPrinterLink> Connect(const ChannelChoice &target, const QDeadlineTimer &deadline) {
  const quint32 address = LookUp(target.target, deadline);
  LinkStatus status = LinkStatus::Failed;
  int error = 0;
  std::unique_ptr<StreamLink> link = ConnectTcpLink(address, target.port, deadline, status, error);
  if (status == LinkStatus::TimedOut)
    throw EPrinterLinkError(QStringLiteral("timed out waiting for the connection"));
  if (!link)
    throw EPrinterLinkError(
        QStringLiteral("the connection failed: %1").arg(SystemErrorDetail(error)));
  return std::make_unique<TStreamPrinterLink>(std::move(link),
                                              QStringLiteral("the printer closed the connection"));
}

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
    return Connect(target, deadline);
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

} // namespace pellicar
