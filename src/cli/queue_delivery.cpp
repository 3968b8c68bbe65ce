#include "cli/queue_delivery.h"

#include "channels/dispatch.h"
#include "channels/spooler_channel.h"
#include "cli/cli_errors.h"
#include "cli/counting_buffer.h"
#include "cli/progress_bar.h"
#include "platform/printer_list.h"
#include "platform/spooler.h"

#include <QDeadlineTimer>

namespace pellicar {

namespace {

// The spooler as the dispatch sees it; the other two ways out are closed.
class QueueSinks : public OutputSinks {
public:
  QueueSinks(Spooler &spooler, const QString &queue) : spooler_(spooler), queue_(queue) {}

  bool SpoolerSend(const CommandSequence &sequence) override {
    ++offered;
    return SendRawBuffer(spooler_, queue_, sequence.documentName, sequence.bytes) ==
           sequence.bytes.size();
  }
  bool SerialSend(const CommandSequence &) override { return false; }
  bool TcpSend(const CommandSequence &) override { return false; }

  // Sequences handed to the spooler; the last of them failed when the
  // action did.
  int offered = 0;

private:
  Spooler &spooler_;
  const QString &queue_;
};

QStringList DocumentNames(const std::vector<CommandSequence> &sequences, size_t from) {
  QStringList names;
  for (size_t i = from; i < sequences.size(); ++i)
    names << sequences[i].documentName;
  return names;
}

} // namespace

void TQueueDelivery::Deliver(const CliJob &job) {
  // --timeout bounds the whole command: every job, the cancel of one the
  // server did not confirm, and the look at the queue list after a failure.
  const QDeadlineTimer deadline(timeoutMs_);
  const std::unique_ptr<Spooler> spooler = CreateSystemSpooler(timeoutMs_);
  spooler->SetDeadline(deadline);
  if (job.kind == CliJob::Kind::Commands) {
    QueueSinks sinks(*spooler, queue_);
    ChannelState state;
    state.spoolerSelected = true;
    if (DispatchCommands(state, sinks, job.sequences) != DispatchOutcome::Complete) {
      const size_t failed = size_t(std::max(sinks.offered - 1, 0));
      // Every sequence before the failed one is a job the server confirmed.
      Fail(deadline, {job.sequences.at(failed).documentName},
           DocumentNames(job.sequences, failed + 1), spooler->TakeUnsettledJobs(), int(failed));
    }
    return;
  }
  const CommandSequence &stream = job.sequences.at(0);
  TProgressBar bar(stream.documentName, stream.bytes.size(), showProgress_);
  TCountingBuffer buffer(stream.bytes, [&](qint64 read, qint64) { bar.Update(read); });
  const bool sent = SendRawStream(*spooler, queue_, stream.documentName, buffer);
  bar.Finish();
  if (!sent)
    Fail(deadline, {stream.documentName}, {}, spooler->TakeUnsettledJobs(), 0);
}

void TQueueDelivery::Fail(const QDeadlineTimer &deadline, const QStringList &refused,
                          const QStringList &notTried, const QStringList &unsettled,
                          int confirmed) const {
  auto quoted = [](const QStringList &names) {
    return QStringLiteral("'%1'").arg(names.join(QStringLiteral("', '")));
  };
  const QStringList notSent = refused + notTried;
  QString message;
  const qint64 left = deadline.remainingTime();
  const QStringList queues = left > 0 ? ListInstalledPrinters(int(left)) : QStringList();
  if (queues.isEmpty())
    message = QStringLiteral("Print queue '%1': no such queue, or the print server "
                             "cannot be reached in time; %2 not sent")
                  .arg(queue_, quoted(notSent));
  else if (!queues.contains(queue_))
    message = QStringLiteral("Print queue '%1': no such queue (the print server has %2); "
                             "%3 not sent")
                  .arg(queue_, queues.join(QStringLiteral(", ")), quoted(notSent));
  else if (notTried.isEmpty())
    message =
        QStringLiteral("Print queue '%1' did not take the job %2").arg(queue_, quoted(refused));
  else
    message = QStringLiteral("Print queue '%1' did not take the job %2; %3 not sent")
                  .arg(queue_, quoted(refused), quoted(notTried));
  for (const QString &job : unsettled)
    message += QStringLiteral(".\n") + job;
  throw ESendFailed(message, confirmed);
}

} // namespace pellicar
