#include "cli/tcp_delivery.h"

#include "channels/client_socket.h"
#include "channels/dispatch.h"
#include "cli/cli_errors.h"
#include "cli/counting_buffer.h"
#include "cli/progress_bar.h"
#include "platform/system_error.h"

#include <QEventLoop>
#include <QTimer>

#include <optional>

namespace pellicar {

namespace {

enum class Phase { Connecting, Sending, Closing, Done };

// The TCP client as the dispatch sees it: one send per sequence.
class TcpSinks : public OutputSinks {
public:
  explicit TcpSinks(TClientSocket &client) : client_(client) {}
  bool SpoolerSend(const CommandSequence &) override { return false; }
  bool SerialSend(const CommandSequence &) override { return false; }
  bool TcpSend(const CommandSequence &sequence) override {
    return client_.Socket().SendString(sequence.bytes) == sequence.bytes.size();
  }

private:
  TClientSocket &client_;
};

} // namespace

void TTcpDelivery::Deliver(const CliJob &job) {
  const QString where = QStringLiteral("%1:%2").arg(host_).arg(port_);
  const bool isStream = job.kind == CliJob::Kind::Stream;
  qint64 total = 0;
  for (const CommandSequence &sequence : job.sequences)
    total += sequence.bytes.size();

  TClientSocket client;
  TCustomWinSocket &socket = client.Socket();
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setInterval(timeoutMs_);
  TProgressBar bar(job.sequences.empty() ? QString() : job.sequences.front().documentName, total,
                   isStream && showProgress_);
  Phase phase = Phase::Connecting;
  std::optional<QString> failure;
  // Bytes of the job the printer's side acknowledged, as last read.
  qint64 confirmed = 0;

  const auto fail = [&](const QString &message) {
    if (phase == Phase::Done)
      return;
    phase = Phase::Done;
    failure = QStringLiteral("%1: %2").arg(where, message);
    loop.quit();
  };
  // The stream's own bound is this one: the wait below starts again on
  // every byte the printer acknowledges.
  socket.SetStreamStallLimit(0);
  const auto close = [&] {
    phase = Phase::Closing;
    deadline.start();
    client.SetActive(false);
  };

  QObject::connect(&deadline, &QTimer::timeout, [&] {
    const QString seconds = QString::number(timeoutMs_ / 1000.0);
    switch (phase) {
    case Phase::Connecting:
      fail(QStringLiteral("timed out after %1 s waiting for the connection").arg(seconds));
      break;
    case Phase::Sending:
      // What the printer's side acknowledged, not what was handed to the
      // network: the system's send buffer takes megabytes the printer may
      // never get. The wait starts again whenever that count moves, so
      // this is a stall, whatever the size of the data.
      confirmed = std::max(confirmed, socket.Acknowledged());
      fail(QStringLiteral("the printer took no data for %1 s; it has %2 of %3 bytes")
               .arg(seconds)
               .arg(confirmed)
               .arg(total));
      break;
    case Phase::Closing:
      fail(QStringLiteral("timed out after %1 s waiting for the connection to close").arg(seconds));
      break;
    case Phase::Done:
      break;
    }
  });
  QObject::connect(&socket, &TCustomWinSocket::StreamAcknowledged, [&](qint64 done, qint64) {
    confirmed = done;
    bar.Update(done);
    if (phase == Phase::Sending)
      deadline.start(); // the printer is taking data: the wait starts again
  });
  // What broke the connection, said with the count of what was cut short.
  QString cause;
  const auto cutShort = [&](const QString &detail) {
    fail(QStringLiteral("the connection ended before the printer had everything (%1)%2")
             .arg(detail, cause.isEmpty() ? QString() : QStringLiteral(": ") + cause));
  };
  // Success is the printer's side having acknowledged every byte: the
  // stream's end, or for command sequences the connection drained.
  QObject::connect(&socket, &TCustomWinSocket::StreamFinished,
                   [&](bool delivered, qint64 acknowledged, qint64, bool exact) {
                     if (phase == Phase::Done)
                       return;
                     confirmed = acknowledged;
                     if (!delivered) {
                       cutShort(QStringLiteral("it has %1%2 of %3 bytes")
                                    .arg(exact ? QString() : QStringLiteral("at least "))
                                    .arg(acknowledged)
                                    .arg(total));
                       return;
                     }
                     bar.Update(total);
                     bar.Finish();
                     if (phase == Phase::Sending)
                       close();
                   });
  QObject::connect(&socket, &TCustomWinSocket::Drained, [&] {
    if (phase == Phase::Sending && !isStream) {
      confirmed = total;
      close();
    }
  });
  // Every close of a connection ends here, also one the printer started or
  // a broken connection brought about.
  QObject::connect(&socket, &TCustomWinSocket::CloseFinished, [&](qint64 undelivered, bool broken) {
    if (phase == Phase::Done)
      return;
    if (!isStream)
      confirmed = total - undelivered;
    if (undelivered > 0) {
      cutShort(QStringLiteral("%1 of %2 bytes did not arrive").arg(undelivered).arg(total));
      return;
    }
    // A printer that read everything ends its stream; one that resets
    // after acknowledging every byte has thrown away those it had not read
    // (how many, only it knows).
    if (broken && total > 0) {
      fail(QStringLiteral("the printer acknowledged all %1 bytes but may have thrown away some "
                          "it had not read: %2")
               .arg(total)
               .arg(cause.isEmpty() ? QStringLiteral("the connection broke") : cause));
      return;
    }
    if (phase == Phase::Sending && isStream)
      return; // StreamFinished tells
    phase = Phase::Done;
    loop.quit();
  });

  client.OnConnect = [&](TCustomWinSocket &) {
    if (phase != Phase::Connecting)
      return;
    phase = Phase::Sending;
    deadline.start();
    if (!isStream) {
      TcpSinks sinks(client);
      ChannelState state;
      state.tcpConnected = true;
      if (DispatchCommands(state, sinks, job.sequences) != DispatchOutcome::Complete) {
        fail(QStringLiteral("sending failed"));
        return;
      }
    }
    if (!isStream && total == 0) {
      close(); // nothing to wait for
      return;
    }
    if (isStream && !socket.BeginStreamSend(
                        std::make_unique<TCountingBuffer>(job.sequences.at(0).bytes, nullptr)))
      fail(QStringLiteral("the connection did not take the data"));
  };
  client.OnError = [&](TCustomWinSocket &, TErrorEvent kind, int &code) {
    switch (kind) {
    case TErrorEvent::eeLookup:
      fail(QStringLiteral("the host could not be looked up: %1").arg(SystemErrorDetail(code)));
      break;
    case TErrorEvent::eeConnect:
      fail(QStringLiteral("the connection failed: %1").arg(SystemErrorDetail(code)));
      break;
    case TErrorEvent::eeDisconnect:
      // The close that follows tells what did not arrive.
      cause = QStringLiteral("the connection broke: %1").arg(SystemErrorDetail(code));
      if (client.Active())
        client.SetActive(false);
      break;
    case TErrorEvent::eeSend:
      cause = QStringLiteral("sending failed: %1").arg(SystemErrorDetail(code));
      break; // the component closes the connection itself
    default:
      fail(QStringLiteral("socket error: %1").arg(SystemErrorDetail(code)));
      break;
    }
    code = 0; // reported here, not raised again
  };
  client.SetExceptionHandler([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const EAbort &) {
      // A failed piece of the stream: its end is reported with the close.
    } catch (const Exception &e) {
      fail(e.message());
    } catch (...) {
      fail(QStringLiteral("an unexpected error"));
    }
  });

  client.SetHost(host_);
  client.SetPort(port_);
  deadline.start();
  try {
    client.SetActive(true);
  } catch (const Exception &e) {
    fail(e.message());
  }
  if (phase != Phase::Done)
    loop.exec();
  bar.Finish();
  if (failure)
    throw ESendFailed(*failure, isStream ? (confirmed == total ? 1
                                            : confirmed < 0    ? -1
                                                               : 0)
                                         : WholeSequencesWithin(job.sequences, confirmed));
}

} // namespace pellicar
