#include "cli/cli_runner.h"

#include "cli/cli_errors.h"
#include "cli/command_line.h"
#include "cli/discover_command.h"
#include "cli/file_delivery.h"
#include "cli/fleet_command.h"
#include "cli/fleet_runner.h"
#include "cli/link_delivery.h"
#include "cli/print_delivery.h"
#include "cli/profile_commands.h"
#include "cli/queue_delivery.h"
#include "cli/read_back_runner.h"
#include "cli/terminal.h"
#include "cli/usage_text.h"
#include "platform/path_kind.h"

#include <QStringDecoder>

#include <memory>

namespace pellicar {

namespace {

// The window's rule, and a full stop after a closing quote or parenthesis
// too, which the rule would leave without one.
QString Sentence(const QString &message) {
  QString text = WithFullStop(message);
  if (text.endsWith(QLatin1Char('\'')) || text.endsWith(QLatin1Char(')')))
    text += QLatin1Char('.');
  return text;
}

void Complain(const QString &message, const QString &hint = {}) {
  QString text = QStringLiteral("pellicar-cli: ") + Sentence(message) + QLatin1Char('\n');
  if (!hint.isEmpty())
    text += hint + QLatin1Char('\n');
  WriteStandard(StandardStream::Error, text.toUtf8());
}

int Status(ExitStatus status) { return int(status); }

// Arguments are taken as UTF-8. One that is not would lose bytes on the way
// into an SSID or a key, so it is refused rather than mended.
QStringList DecodeArguments(const QList<QByteArray> &arguments) {
  QStringList decoded;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(arguments[i]);
    if (utf8.hasError())
      throw EUsageError(QStringLiteral("argument %1 is not valid UTF-8 text").arg(i + 1));
    decoded << text;
  }
  return decoded;
}

std::unique_ptr<TDelivery> MakeDelivery(const CliRequest &request) {
  switch (request.channel.kind) {
  case ChannelChoice::Kind::Output:
    return std::make_unique<TFileDelivery>(request.channel.target);
  case ChannelChoice::Kind::None:
    return std::make_unique<TPrintDelivery>();
  case ChannelChoice::Kind::Queue:
    return std::make_unique<TQueueDelivery>(request.channel.target, request.timeoutMs,
                                            IsTerminal(StandardStream::Error));
  case ChannelChoice::Kind::Tcp:
  case ChannelChoice::Kind::Serial:
  case ChannelChoice::Kind::Device:
    return std::make_unique<TLinkDelivery>(request.channel, request.timeoutMs,
                                           IsTerminal(StandardStream::Error));
  }
  return std::make_unique<TPrintDelivery>();
}

// apply over a channel: all sections as one job on one connection, then a
// line per section with what the channel confirmed. The lines go to
// standard output, or to standard error when standard output carries the
// bytes (--output -).
void DeliverSections(const CliRequest &request) {
  const CliJob &job = request.job;
  const bool bytesOnOutput = request.channel.kind == ChannelChoice::Kind::Output &&
                             request.channel.target == QLatin1String("-");
  const StandardStream stream = bytesOnOutput ? StandardStream::Error : StandardStream::Output;
  try {
    MakeDelivery(request)->Deliver(job);
  } catch (const ESendFailed &e) {
    WriteStandard(stream, SectionOutcomes(job, true, e.confirmedSequences()).toUtf8());
    throw;
  }
  if (!WriteStandard(stream, SectionOutcomes(job, false, -1).toUtf8()))
    throw ESendFailed(QLatin1String(kStandardOutputFailed));
}

// A --serial or --device path of a kind that channel cannot use is bad
// input: said before anything is opened, with what the path is.
void CheckChannelPath(const ChannelChoice &channel) {
  const bool serial = channel.kind == ChannelChoice::Kind::Serial;
  if (!serial && channel.kind != ChannelChoice::Kind::Device)
    return;
  const PathInfo info = ClassifyPath(channel.target);
  if (info.kind == PathKind::Missing || info.kind == PathKind::Terminal ||
      (!serial && info.kind == PathKind::CharacterDevice))
    return;
  throw EBadInput(
      serial ? QStringLiteral("%1 is %2, not a serial port").arg(channel.target, DescribePath(info))
             : QStringLiteral("%1 is %2, not a device (--device takes a printer's "
                              "device file, such as /dev/usb/lp0)")
                   .arg(channel.target, DescribePath(info)));
}

ExitStatus Run(const CliRequest &request) {
  const CliJob &job = request.job;
  if (job.kind == CliJob::Kind::Discover)
    return RunDiscover(job);
  const bool dryRun = request.channel.kind == ChannelChoice::Kind::None;
  CheckChannelPath(request.channel);
  if (job.kind == CliJob::Kind::Fleet)
    return RunFleet(*job.fleet);
  if (!job.sections.empty() && !dryRun) {
    DeliverSections(request);
    return ExitStatus::Sent;
  }
  TReadBackRunner readBack(request.channel, request.timeoutMs);
  if (job.kind == CliJob::Kind::Status && !dryRun)
    return readBack.Status(job.json);
  if (job.kind != CliJob::Kind::WaitReady || dryRun)
    MakeDelivery(request)->Deliver(job);
  if (job.waitReadyMs > 0 && !dryRun)
    return readBack.WaitReady(job.waitReadyMs, job.kind == CliJob::Kind::Stream);
  return ExitStatus::Sent;
}

} // namespace

std::unique_ptr<TDelivery> DeliveryFor(const CliRequest &request) { return MakeDelivery(request); }

int RunCli(const QList<QByteArray> &arguments) {
  if (arguments.size() == 1 && arguments[0] == "fleet-worker")
    return RunFleetWorker();
  CliRequest request;
  try {
    request = ParseCommandLine(DecodeArguments(arguments));
  } catch (const EUsageError &e) {
    Complain(e.message(), UsageHint(e.command()));
    return Status(ExitStatus::BadInput);
  } catch (const ESendFailed &e) {
    Complain(e.message());
    return Status(ExitStatus::SendFailed);
  } catch (const Exception &e) {
    Complain(e.message());
    return Status(ExitStatus::BadInput);
  }

  if (request.job.kind == CliJob::Kind::Report) {
    if (!WriteStandard(StandardStream::Output, request.job.report.toUtf8())) {
      Complain(QLatin1String(kStandardOutputFailed));
      return Status(ExitStatus::SendFailed);
    }
    return Status(ExitStatus::Sent);
  }

  try {
    return Status(Run(request));
  } catch (const EUsageError &e) {
    Complain(e.message(), UsageHint(e.command()));
    return Status(ExitStatus::BadInput);
  } catch (const EBadInput &e) {
    Complain(e.message());
    return Status(ExitStatus::BadInput);
  } catch (const Exception &e) {
    Complain(e.message());
    return Status(ExitStatus::SendFailed);
  } catch (const std::exception &e) {
    Complain(QString::fromLocal8Bit(e.what()));
    return Status(ExitStatus::SendFailed);
  }
}

} // namespace pellicar
