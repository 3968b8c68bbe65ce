#include "cli/read_back_commands.h"

#include "cli/cli_errors.h"
#include "commands/status_answers.h"

#include <cmath>

namespace pellicar {

namespace {

// The longest wait a user can ask for: a day.
constexpr double kMaxSeconds = 86400;

// What both commands send, one request a line in a dry run.
CliJob StatusJob(CliJob::Kind kind, const QString &command) {
  CliJob job;
  job.kind = kind;
  job.command = command;
  for (int n = 1; n <= kStatusRequestCount; ++n)
    job.sequences.push_back(CommandSequence{QStringLiteral("DLE EOT %1").arg(n), StatusRequest(n)});
  return job;
}

} // namespace

bool IsSeconds(const QString &value) {
  bool ok = false;
  const double seconds = value.toDouble(&ok);
  return ok && std::isfinite(seconds) && seconds > 0 && seconds <= kMaxSeconds;
}

int SecondsValue(const QString &option, const QString &value, const QString &context) {
  if (!IsSeconds(value))
    throw EUsageError(QStringLiteral("%1: '%2' is not a number of seconds above 0 and up to %3")
                          .arg(option, value)
                          .arg(kMaxSeconds),
                      context);
  return std::max(1, int(std::lround(value.toDouble() * 1000)));
}

CliJob ParseStatus(TArgumentReader &args) {
  const QString context = QStringLiteral("status");
  CliJob job = StatusJob(CliJob::Kind::Status, context);
  while (!args.AtEnd()) {
    const QString option = args.Next();
    if (option != QLatin1String("--json"))
      throw EUsageError(QStringLiteral("status: unknown option '%1'").arg(option), context);
    job.json = true;
  }
  return job;
}

CliJob ParseWaitReady(TArgumentReader &args) {
  const QString context = QStringLiteral("wait-ready");
  CliJob job = StatusJob(CliJob::Kind::WaitReady, context);
  job.waitReadyMs = kDefaultWaitReadyMs;
  while (!args.AtEnd()) {
    const QString option = args.Next();
    if (option != QLatin1String("--within"))
      throw EUsageError(QStringLiteral("wait-ready: unknown option '%1'").arg(option), context);
    job.waitReadyMs = SecondsValue(option, args.ValueOf(option, context), context);
  }
  return job;
}

} // namespace pellicar
