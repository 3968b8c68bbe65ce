#include "cli/device_delivery.h"

#include "channels/printer_link.h"
#include "cli/cli_errors.h"
#include "cli/progress_bar.h"

namespace pellicar {

namespace {

// A long transfer goes in pieces of this size, so that the progress bar
// moves and the time bound counts from the last piece the device took.
constexpr qsizetype kPieceBytes = 4096;

} // namespace

void TDeviceDelivery::Deliver(const CliJob &job) {
  const bool isStream = job.kind == CliJob::Kind::Stream;
  QByteArray bytes;
  for (const CommandSequence &sequence : job.sequences)
    bytes += sequence.bytes;
  TProgressBar bar(job.sequences.empty() ? QString() : job.sequences.front().documentName,
                   bytes.size(), isStream && showProgress_);
  qsizetype sent = 0;
  try {
    PrinterLinkTarget target;
    target.kind = PrinterLinkTarget::Kind::Device;
    target.name = path_;
    const std::unique_ptr<TPrinterLink> link = OpenPrinterLink(target, QDeadlineTimer(timeoutMs_));
    while (sent < bytes.size()) {
      const qsizetype piece = std::min(kPieceBytes, bytes.size() - sent);
      link->Send(bytes.mid(sent, piece), QDeadlineTimer(timeoutMs_));
      sent += piece;
      bar.Update(sent);
    }
    link->Drain(QDeadlineTimer(timeoutMs_));
  } catch (const EPrinterLinkError &e) {
    bar.Finish();
    QString message = QStringLiteral("%1: %2").arg(path_, e.message());
    if (sent > 0 && sent < bytes.size())
      message += QStringLiteral(" (%1 of %2 bytes written)").arg(sent).arg(bytes.size());
    throw ESendFailed(message);
  }
  bar.Finish();
}

} // namespace pellicar
