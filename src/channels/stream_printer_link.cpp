#include "channels/stream_printer_link.h"

#include "platform/system_error.h"

namespace pellicar {

void TStreamPrinterLink::Send(const QByteArray &bytes, const QDeadlineTimer &deadline) {
  qint64 done = 0;
  while (done < bytes.size()) {
    qint64 written = 0;
    int error = 0;
    const LinkStatus status =
        link_->Write(bytes.constData() + done, bytes.size() - done, written, deadline, error);
    if (status == LinkStatus::TimedOut)
      throw ELinkStalled(QStringLiteral("timed out waiting for the printer to take the data"));
    if (status != LinkStatus::Ok)
      Fail(status, error, QStringLiteral("writing"));
    done += written;
  }
}

bool TStreamPrinterLink::Receive(QByteArray &into, const QDeadlineTimer &deadline) {
  char buffer[256];
  qint64 count = 0;
  int error = 0;
  const LinkStatus status = link_->Read(buffer, sizeof buffer, count, deadline, error);
  if (status == LinkStatus::TimedOut)
    return false;
  if (status != LinkStatus::Ok)
    Fail(status, error, QStringLiteral("reading"));
  into.append(buffer, count);
  return true;
}

void TStreamPrinterLink::Drain(const QDeadlineTimer &deadline) {
  int error = 0;
  const LinkStatus status = link_->Drain(deadline, error);
  if (status == LinkStatus::TimedOut)
    throw ELinkStalled(
        QStringLiteral("timed out waiting for the printer to take what was written"));
  if (status != LinkStatus::Ok)
    Fail(status, error, QStringLiteral("waiting for the data to leave"));
}

void TStreamPrinterLink::Fail(LinkStatus status, int error, const QString &doing) const {
  if (status == LinkStatus::Closed)
    throw EPrinterLinkError(closedText_);
  throw EPrinterLinkError(QStringLiteral("%1 failed: %2").arg(doing, SystemErrorDetail(error)));
}

} // namespace pellicar
