#include "cli/link_delivery.h"

#include "channels/printer_link.h"
#include "cli/cli_errors.h"
#include "cli/progress_bar.h"

#include <algorithm>
#include <optional>

namespace pellicar {

namespace {

// A long transfer goes in pieces of this size, so that the progress bar
// moves and the time bound counts from the last piece the link took.
constexpr qsizetype kPieceBytes = 4096;

} // namespace

void TLinkDelivery::Deliver(const CliJob &job) {
  const QString where = channel_.Where();
  qint64 total = 0;
  for (const CommandSequence &sequence : job.sequences)
    total += sequence.bytes.size();
  std::unique_ptr<TPrinterLink> link;
  try {
    link = OpenPrinterLink(channel_, QDeadlineTimer(timeoutMs_));
  } catch (const ELinkStalled &) {
    throw ESendFailed(QStringLiteral("%1: timed out after %2 s waiting for the connection")
                          .arg(where, Seconds(timeoutMs_)),
                      0);
  } catch (const EPrinterLinkError &e) {
    // The serial component's messages are the window's, shown as its box
    // shows them.
    const bool serial = channel_.kind == ChannelChoice::Kind::Serial;
    throw ESendFailed(
        QStringLiteral("%1: %2").arg(where, serial ? WithFullStop(e.message()) : e.message()), 0);
  }

  TProgressBar bar(job.sequences.empty() ? QString() : job.sequences.front().documentName, total,
                   job.kind == CliJob::Kind::Stream && showProgress_);
  qint64 sent = 0;    // handed to the link
  qint64 drained = 0; // bytes of the sequences drained whole
  std::optional<QString> failure;
  bool stalled = false;
  // What the printer has: what its side acknowledged, for a link that can
  // tell, else what the link took.
  const auto taken = [&] {
    const qint64 acknowledged = link->Acknowledged();
    return acknowledged >= 0 ? acknowledged : sent;
  };
  try {
    if (link->Acknowledged() >= 0) {
      // A link that counts what the printer's side acknowledged takes the
      // job as one transfer: the count tells which sequences it has whole,
      // and every move of it starts the wait again.
      QByteArray all;
      for (const CommandSequence &sequence : job.sequences)
        all += sequence.bytes;
      if (!link->Transfer(all))
        throw EPrinterLinkError(QStringLiteral("sending failed"));
      sent = total;
      while (!link->DrainStep(QDeadlineTimer(timeoutMs_)))
        bar.Update(taken());
      drained = sent;
    } else {
      for (const CommandSequence &sequence : job.sequences) {
        for (qsizetype done = 0; done < sequence.bytes.size();) {
          const qsizetype piece = std::min(kPieceBytes, sequence.bytes.size() - done);
          link->Send(sequence.bytes.mid(done, piece), QDeadlineTimer(timeoutMs_));
          done += piece;
          sent += piece;
          bar.Update(sent);
        }
        // Each sequence drained on its own, so that a failure can say which
        // ones the printer's side took whole.
        link->Drain(QDeadlineTimer(timeoutMs_));
        drained = sent;
      }
    }
  } catch (const ELinkStalled &) {
    stalled = true;
  } catch (const EPrinterLinkError &e) {
    failure = e.message();
  }
  bar.Finish();
  // A close may still throw away what a drain saw leave the program (a
  // serial port's driver that could not send it in time): that is lost too.
  quint64 lost = 0;
  try {
    lost = link->Close();
  } catch (const EPrinterLinkError &e) {
    if (!failure && !stalled)
      failure = e.message();
  }
  if (!failure && !stalled && lost == 0)
    return;
  const qint64 confirmed =
      lost > 0 ? std::min(drained, sent - qint64(lost)) : std::max(drained, link->Acknowledged());
  // Every wait counts from the last piece the link took: this is a stall,
  // whatever the length of the job. The count is what the link took and
  // its close did not throw away.
  if (stalled)
    throw ESendFailed(
        QStringLiteral("%1: the printer took no data for %2 s; it has %3 of %4 bytes%5")
            .arg(where, Seconds(timeoutMs_))
            .arg(std::max<qint64>(drained, taken()) - qint64(lost))
            .arg(total)
            .arg(lost > 0 ? link->LossNote(sent, total, lost) : QString()),
        WholeSequencesWithin(job.sequences, confirmed));
  throw ESendFailed(
      QStringLiteral("%1: %2%3")
          .arg(where,
               failure.value_or(QStringLiteral("the port closed before the line had sent "
                                               "everything")),
               link->LossNote(sent, total, lost)),
      WholeSequencesWithin(job.sequences, confirmed));
}

} // namespace pellicar
