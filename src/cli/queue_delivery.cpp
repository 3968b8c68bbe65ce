#include "cli/queue_delivery.h"

#include "channels/dispatch.h"
#include "channels/spooler_channel.h"
#include "cli/cli_errors.h"
#include "cli/counting_buffer.h"
#include "cli/progress_bar.h"
#include "platform/printer_list.h"
#include "platform/spooler.h"

namespace pellicar {

namespace {

// The spooler as the dispatch sees it; the other two ways out are closed.
class QueueSinks : public OutputSinks {
public:
  QueueSinks(Spooler &spooler, const QString &queue) : spooler_(spooler), queue_(queue) {}

  bool SpoolerSend(const CommandSequence &sequence) override {
    const bool whole = SendRawBuffer(spooler_, queue_, sequence.documentName, sequence.bytes) ==
                       sequence.bytes.size();
    if (!whole)
      refused << sequence.documentName;
    return whole;
  }
  bool SerialSend(const CommandSequence &) override { return false; }
  bool TcpSend(const CommandSequence &) override { return false; }

  QStringList refused;

private:
  Spooler &spooler_;
  const QString &queue_;
};

} // namespace

void TQueueDelivery::Deliver(const CliJob &job) {
  const std::unique_ptr<Spooler> spooler = CreateSystemSpooler(timeoutMs_);
  if (job.kind == CliJob::Kind::Commands) {
    QueueSinks sinks(*spooler, queue_);
    ChannelState state;
    state.spoolerSelected = true;
    if (DispatchCommands(state, sinks, job.sequences) != DispatchOutcome::Complete ||
        !sinks.refused.isEmpty())
      Fail(sinks.refused);
    return;
  }
  const CommandSequence &stream = job.sequences.at(0);
  TProgressBar bar(stream.documentName, stream.bytes.size(), showProgress_);
  TCountingBuffer buffer(stream.bytes, [&](qint64 read, qint64) { bar.Update(read); });
  const bool sent = SendRawStream(*spooler, queue_, stream.documentName, buffer);
  bar.Finish();
  if (!sent)
    Fail({stream.documentName});
}

void TQueueDelivery::Fail(const QStringList &refused) const {
  const QString jobs = QStringLiteral("'%1'").arg(refused.join(QStringLiteral("', '")));
  const QStringList queues = ListInstalledPrinters(timeoutMs_);
  if (queues.isEmpty())
    throw ESendFailed(QStringLiteral("Print queue '%1': no such queue, or the print server "
                                     "cannot be reached; %2 not sent")
                          .arg(queue_, jobs));
  if (!queues.contains(queue_))
    throw ESendFailed(QStringLiteral("Print queue '%1': no such queue (the print server has %2); "
                                     "%3 not sent")
                          .arg(queue_, queues.join(QStringLiteral(", ")), jobs));
  throw ESendFailed(QStringLiteral("Print queue '%1' did not take the job %2").arg(queue_, jobs));
}

} // namespace pellicar
