#include "cli/fleet_runner.h"

#include "cli/fleet_report.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

#include <csignal>

namespace pellicar {

namespace {

// A worker's own waits are each bounded by the timeout: status before and
// after (a connection and four answers each), the sections' connection,
// each piece and the close. This many timeouts is far more than a working
// printer needs, so only a worker that hangs runs into it.
constexpr int kWorkerTimeouts = 32;
// For starting the process and reading the profile.
constexpr int kWorkerMarginMs = 10000;
// A worker writes one line of JSON; more than this is not one of ours.
constexpr qint64 kMaxWorkerOutputBytes = 1024 * 1024;
// Of what a worker writes on standard error, the end is kept for the
// report when it gave no result.
constexpr qsizetype kKeptErrorChars = 2000;

QJsonObject NotRun(const FleetPrinterJob &job, const QString &outcome, const QString &message) {
  QJsonObject result;
  result.insert(QStringLiteral("target"), job.target);
  result.insert(QStringLiteral("outcome"), outcome);
  result.insert(QStringLiteral("message"), message);
  result.insert(QStringLiteral("sections"), QJsonArray());
  result.insert(QStringLiteral("sectionsSent"), 0);
  result.insert(QStringLiteral("bytes"), 0);
  result.insert(QStringLiteral("seconds"), 0.0);
  result.insert(QStringLiteral("statusBefore"), QJsonValue());
  result.insert(QStringLiteral("statusAfter"), QJsonValue());
  return result;
}

} // namespace

TFleetRunner::TFleetRunner(const FleetPlan &plan, QObject *parent)
    : QObject(parent), plan_(plan), results_(plan.printers.size()), running_(plan.printers.size()) {
}

TFleetRunner::~TFleetRunner() {
  for (const QPointer<QProcess> &process : running_)
    if (process) {
      process->kill();
      process->waitForFinished(1000);
    }
}

ExitStatus TFleetRunner::Run() {
  TInterruptWatch watch;
  connect(&watch, &TInterruptWatch::interrupted, this, &TFleetRunner::onInterrupt);
  QEventLoop loop;
  loop_ = &loop;
  startNext();
  if (active_ > 0)
    loop.exec();
  loop_ = nullptr;

  const QString file = plan_.targetsPath;
  for (size_t i = 0; i < results_.size(); ++i)
    if (results_[i].isEmpty())
      results_[i] = NotRun(plan_.printers[i], QStringLiteral("not started"),
                           QStringLiteral("interrupted before it was started"));
  const FleetSummary summary = Summarize(results_, interrupted_);
  const QByteArray report =
      plan_.json ? FleetJson(results_, summary) : FleetTable(results_, summary).toUtf8();
  const bool written = WriteStandard(StandardStream::Output, report);
  if (summary.failed > 0)
    WriteStandard(
        StandardStream::Error,
        (QStringLiteral("pellicar-cli: ") + FailureSentence(summary) + QLatin1Char('\n')).toUtf8());
  if (!written)
    throw ESendFailed(QLatin1String(kStandardOutputFailed));
  return summary.failed == 0 ? ExitStatus::Sent : ExitStatus::SendFailed;
}

void TFleetRunner::startNext() {
  while (!interrupted_ && active_ < plan_.parallel && next_ < plan_.printers.size()) {
    const size_t index = next_++;
    const FleetPrinterJob &job = plan_.printers[index];
    auto *process = new QProcess(this);
    running_[index] = process;
    ++active_;
    process->setProgram(QCoreApplication::applicationFilePath());
    process->setArguments({QStringLiteral("fleet-worker")});
    StartInOwnProcessGroup(*process);
    auto *bound = new QTimer(process);
    bound->setSingleShot(true);
    connect(bound, &QTimer::timeout, process, [this, index, process] {
      finishWorker(
          index, process,
          QStringLiteral("no result within %1 s; the worker was stopped")
              .arg((plan_.timeoutMs * kWorkerTimeouts + plan_.verifyMs + kWorkerMarginMs) / 1000));
    });
    connect(process, &QProcess::readyReadStandardOutput, process, [this, index, process] {
      if (process->bytesAvailable() > kMaxWorkerOutputBytes)
        finishWorker(index, process, QStringLiteral("the worker wrote more than it should"));
    });
    connect(process, &QProcess::readyReadStandardError, process, [process] {
      // Only the end of what it says is kept for the report.
      process->setReadChannel(QProcess::StandardError);
      if (process->bytesAvailable() > kKeptErrorChars)
        process->skip(process->bytesAvailable() - kKeptErrorChars);
      process->setReadChannel(QProcess::StandardOutput);
    });
    connect(process, &QProcess::errorOccurred, process,
            [this, index, process](QProcess::ProcessError error) {
              if (error == QProcess::FailedToStart)
                finishWorker(
                    index, process,
                    QStringLiteral("cannot start a worker: %1").arg(process->errorString()));
            });
    connect(process, &QProcess::finished, process,
            [this, index, process] { finishWorker(index, process, {}); });
    process->start();
    process->write(QJsonDocument(job.work).toJson(QJsonDocument::Compact));
    process->closeWriteChannel();
    bound->start(plan_.timeoutMs * kWorkerTimeouts + plan_.verifyMs + kWorkerMarginMs);
  }
}

void TFleetRunner::finishWorker(size_t index, QProcess *process, const QString &failure) {
  if (running_[index] != process)
    return; // already finished (killed, then its finished signal)
  running_[index] = nullptr;
  --active_;
  const FleetPrinterJob &job = plan_.printers[index];
  if (!failure.isEmpty()) {
    process->disconnect();
    process->kill();
    process->waitForFinished(1000);
    results_[index] = NotRun(job, QStringLiteral("failed"), failure);
  } else {
    const QByteArray out = process->readAllStandardOutput();
    const QJsonObject result = QJsonDocument::fromJson(out.trimmed()).object();
    if (process->exitStatus() == QProcess::NormalExit &&
        result.value(QStringLiteral("target")).toString() == job.target) {
      results_[index] = result;
    } else if (interrupted_ && process->exitStatus() == QProcess::CrashExit &&
               process->exitCode() == SIGINT) {
      // The interrupt reached it before it could catch it, which is the
      // first thing it does: it had begun nothing.
      results_[index] = NotRun(job, QStringLiteral("interrupted"),
                               QStringLiteral("interrupted before anything was sent"));
    } else {
      const QString said =
          QString::fromUtf8(process->readAllStandardError()).trimmed().right(kKeptErrorChars);
      const QString how = process->exitStatus() == QProcess::CrashExit
                              ? QStringLiteral("the worker crashed")
                              : QStringLiteral("the worker ended with status %1 and no result")
                                    .arg(process->exitCode());
      results_[index] = NotRun(job, QStringLiteral("failed"),
                               said.isEmpty() ? how : QStringLiteral("%1: %2").arg(how, said));
    }
  }
  process->deleteLater();
  if (IsTerminal(StandardStream::Error))
    WriteStandard(StandardStream::Error,
                  ProgressLine(results_[index], ++done_, int(results_.size())).toUtf8());
  startNext();
  if (active_ == 0 && loop_)
    loop_->quit();
}

void TFleetRunner::onInterrupt() {
  interrupted_ = true;
  for (const QPointer<QProcess> &process : running_)
    if (process)
      InterruptChild(*process);
  if (active_ > 0)
    WriteStandard(
        StandardStream::Error,
        QStringLiteral("pellicar-cli: interrupted: no new printer is started; %1 "
                       "running end their current sequence (Ctrl-C again stops at once)\n")
            .arg(active_)
            .toUtf8());
}

ExitStatus RunFleet(const FleetPlan &plan) {
  TFleetRunner runner(plan);
  return runner.Run();
}

} // namespace pellicar
