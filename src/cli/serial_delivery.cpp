#include "cli/serial_delivery.h"

#include "channels/serial_printer_link.h"
#include "cli/cli_errors.h"

namespace pellicar {

void TSerialDelivery::Deliver(const CliJob &job) {
  std::unique_ptr<TSerialPrinterLink> link;
  try {
    link = std::make_unique<TSerialPrinterLink>(device_, baudRate_, parityIndex_);
  } catch (const EPrinterLinkError &e) {
    throw ESendFailed(QStringLiteral("%1: %2").arg(device_, WithFullStop(e.message())), 0);
  }
  qint64 total = 0;
  for (const CommandSequence &sequence : job.sequences)
    total += sequence.bytes.size();
  // The close lets the driver send what the thread wrote, within the
  // close's bound; what is left then is thrown away, and that is a failure
  // too. What it did not throw away went out on the line: the sequences
  // within it count as confirmed.
  const auto close = [&](const QString &failure) {
    const quint64 discarded = link->Close();
    if (failure.isEmpty() && discarded == 0)
      return;
    const QString lost = discarded == 0 ? QString()
                                        : QStringLiteral(" (%1 of %2 bytes were not written to "
                                                         "the port)")
                                              .arg(discarded)
                                              .arg(total);
    throw ESendFailed(
        QStringLiteral("%1: %2%3")
            .arg(device_,
                 failure.isEmpty()
                     ? QStringLiteral("the port closed before the line had sent everything")
                     : failure,
                 lost),
        WholeSequencesWithin(job.sequences, total - qint64(discarded)));
  };
  try {
    for (const CommandSequence &sequence : job.sequences)
      link->Send(sequence.bytes, QDeadlineTimer(timeoutMs_));
    link->Drain(QDeadlineTimer(timeoutMs_));
  } catch (const EPrinterLinkError &e) {
    close(e.message());
  }
  close(QString());
}

} // namespace pellicar
