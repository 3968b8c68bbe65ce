#include "cli/serial_delivery.h"

#include "channels/comm.h"
#include "channels/dispatch.h"
#include "cli/cli_errors.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace pellicar {

namespace {

// The write thread reports an empty queue once when it starts; that report
// is awaited this long before the commands are queued, so that the next
// one speaks of them.
constexpr int kStartReportMs = 1000;

class SerialSinks : public OutputSinks {
public:
  explicit SerialSinks(TComm &comm) : comm_(comm) {}
  bool SpoolerSend(const CommandSequence &) override { return false; }
  bool SerialSend(const CommandSequence &sequence) override {
    return comm_.SendData(sequence.bytes);
  }
  bool TcpSend(const CommandSequence &) override { return false; }

private:
  TComm &comm_;
};

enum class Report { None, QueueEmpty, Hangup, TimedOut };

// Runs the event loop until the component reports, or `ms` have passed.
Report AwaitReport(TComm &comm, int ms) {
  QEventLoop loop;
  Report report = Report::None;
  comm.OnSendDataEmpty = [&](TComm &) {
    report = Report::QueueEmpty;
    loop.quit();
  };
  comm.OnRequestHangup = [&](TComm &) {
    report = Report::Hangup;
    loop.quit();
  };
  QTimer::singleShot(ms, &loop, [&] {
    report = Report::TimedOut;
    loop.quit();
  });
  loop.exec();
  comm.OnSendDataEmpty = nullptr;
  comm.OnRequestHangup = nullptr;
  return report;
}

} // namespace

void TSerialDelivery::Deliver(const CliJob &job) {
  TComm comm;
  comm.LoadFormValues();
  comm.SetCommName(device_);
  comm.SetBaudRate(baudRate_);
  const TParity parities[] = {TParity::None, TParity::Odd, TParity::Even};
  comm.SetParity(parities[std::clamp(parityIndex_, 0, 2)]);
  // What the close threw away: bytes never written, or that the driver
  // still held when the close's bound ran out.
  quint64 discarded = 0;
  comm.OnSendDataDiscarded = [&](TComm &, quint64 bytes) { discarded += bytes; };
  try {
    comm.OpenPort();
  } catch (const ECommsError &e) {
    throw ESendFailed(QStringLiteral("%1: %2").arg(device_, WithFullStop(e.message())), 0);
  }
  qint64 total = 0;
  for (const CommandSequence &sequence : job.sequences)
    total += sequence.bytes.size();
  // Closes the port; returns what the close threw away, said in brackets
  // (empty when it threw nothing away).
  const auto closeSayingLost = [&] {
    comm.ClosePort();
    if (discarded == 0)
      return QString();
    return QStringLiteral(" (%1 of %2 bytes were not written to the port)")
        .arg(discarded)
        .arg(total);
  };
  // What the close did not throw away went out on the line: the sequences
  // within it count as confirmed.
  const auto written = [&] {
    return WholeSequencesWithin(job.sequences, total - qint64(discarded));
  };
  const auto fail = [&](const QString &what) {
    const QString lost = closeSayingLost();
    throw ESendFailed(QStringLiteral("%1: %2%3").arg(device_, what, lost), written());
  };

  if (AwaitReport(comm, std::min(timeoutMs_, kStartReportMs)) == Report::Hangup)
    fail(QStringLiteral("the port failed as it was opened"));
  SerialSinks sinks(comm);
  ChannelState state;
  state.serialOpen = true;
  if (DispatchCommands(state, sinks, job.sequences) != DispatchOutcome::Complete)
    fail(QStringLiteral("the port did not take the commands"));
  // The close lets the driver send what the thread wrote, within the
  // close's bound; what is left then is thrown away, and that is a failure
  // too.
  switch (AwaitReport(comm, timeoutMs_)) {
  case Report::QueueEmpty: {
    const QString lost = closeSayingLost();
    if (!lost.isEmpty())
      throw ESendFailed(QStringLiteral("%1: the port closed before the line had sent everything%2")
                            .arg(device_, lost),
                        written());
    return;
  }
  case Report::Hangup:
    return fail(QStringLiteral("writing to the port failed"));
  case Report::TimedOut:
  case Report::None:
    break;
  }
  fail(QStringLiteral("timed out after %1 s waiting for the port to take the data")
           .arg(timeoutMs_ / 1000.0));
}

} // namespace pellicar
