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
  try {
    comm.OpenPort();
  } catch (const ECommsError &e) {
    throw ESendFailed(QStringLiteral("%1: %2").arg(device_, WithFullStop(e.message())));
  }

  if (AwaitReport(comm, std::min(timeoutMs_, kStartReportMs)) == Report::Hangup) {
    comm.ClosePort();
    throw ESendFailed(QStringLiteral("%1: the port failed as it was opened").arg(device_));
  }
  SerialSinks sinks(comm);
  ChannelState state;
  state.serialOpen = true;
  if (DispatchCommands(state, sinks, job.sequences) != DispatchOutcome::Complete) {
    comm.ClosePort();
    throw ESendFailed(QStringLiteral("%1: the port did not take the commands").arg(device_));
  }
  const Report written = AwaitReport(comm, timeoutMs_);
  // The close lets the driver send what the thread wrote; after a failure
  // or a timeout it throws away what is left.
  comm.ClosePort();
  switch (written) {
  case Report::QueueEmpty:
    return;
  case Report::Hangup:
    throw ESendFailed(QStringLiteral("%1: writing to the port failed").arg(device_));
  case Report::TimedOut:
  case Report::None:
    break;
  }
  throw ESendFailed(QStringLiteral("%1: timed out after %2 s waiting for the port to take the data")
                        .arg(device_)
                        .arg(timeoutMs_ / 1000.0));
}

} // namespace pellicar
