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
  qint64 total = 0;
  for (const CommandSequence &sequence : job.sequences)
    total += sequence.bytes.size();
  TProgressBar bar(job.sequences.empty() ? QString() : job.sequences.front().documentName, total,
                   isStream && showProgress_);
  qint64 sent = 0;
  int drained = 0; // sequences the device has taken whole
  try {
    PrinterLinkTarget target;
    target.kind = PrinterLinkTarget::Kind::Device;
    target.name = path_;
    const std::unique_ptr<TPrinterLink> link = OpenPrinterLink(target, QDeadlineTimer(timeoutMs_));
    for (const CommandSequence &sequence : job.sequences) {
      for (qsizetype done = 0; done < sequence.bytes.size();) {
        const qsizetype piece = std::min(kPieceBytes, sequence.bytes.size() - done);
        link->Send(sequence.bytes.mid(done, piece), QDeadlineTimer(timeoutMs_));
        done += piece;
        sent += piece;
        bar.Update(sent);
      }
      // Each sequence drained on its own, so that a failure can say which
      // ones the device took whole.
      link->Drain(QDeadlineTimer(timeoutMs_));
      ++drained;
    }
  } catch (const EPrinterLinkError &e) {
    bar.Finish();
    QString message = QStringLiteral("%1: %2").arg(path_, e.message());
    if (sent > 0 && sent < total)
      message += QStringLiteral(" (%1 of %2 bytes written)").arg(sent).arg(total);
    throw ESendFailed(message, drained);
  }
  bar.Finish();
}

} // namespace pellicar
