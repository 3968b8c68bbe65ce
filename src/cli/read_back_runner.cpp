#include "cli/read_back_runner.h"

#include "channels/status_query.h"
#include "cli/terminal.h"
#include "discovery/status_text.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace pellicar {

namespace {

// Between two questions to a printer that is not ready yet. A restart
// takes seconds; asking twice a second finds it back promptly without
// keeping it busy.
constexpr int kAskAgainMs = 500;

// A printer starts its restart within this long after taking a firmware
// upload (it checks and writes the image first); until then, or until it
// has been seen going down, its "ready" is the old firmware's.
constexpr qint64 kRestartGraceMs = 10000;

void Print(const QString &text) {
  if (!WriteStandard(StandardStream::Output, text.toUtf8()))
    throw ESendFailed(QStringLiteral("Writing to standard output failed"));
}

void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

} // namespace

QJsonObject StatusJson(const ReportedStatus &status) {
  QJsonObject object;
  for (const auto &[key, value] : StatusFields(status))
    object.insert(key, value);
  return object;
}

ExitStatus TReadBackRunner::Status(bool json) {
  StatusReading reading;
  try {
    // --timeout bounds the whole exchange: opening the link and all four
    // questions.
    const QDeadlineTimer deadline(timeoutMs_);
    const std::unique_ptr<TPrinterLink> link = OpenPrinterLink(target_, deadline);
    reading = QueryPrinterStatus(*link, deadline, timeoutMs_);
  } catch (const EPrinterLinkError &e) {
    throw ESendFailed(QStringLiteral("%1: %2").arg(target_.Where(), e.message()));
  }
  if (json) {
    QJsonObject object;
    for (const auto &[key, value] : StatusFields(reading.status))
      object.insert(key, value);
    Print(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
          QLatin1Char('\n'));
  } else {
    Print(StatusLines(reading.status));
  }
  return reading.status.Ready() ? ExitStatus::Sent : ExitStatus::NotReady;
}

ExitStatus TReadBackRunner::WaitReady(int withinMs, bool afterUpload) {
  QElapsedTimer clock;
  clock.start();
  const QDeadlineTimer within(withinMs);
  // After an upload, a "ready" from the printer that has not restarted yet
  // would end the wait before the restart began.
  const qint64 graceMs = afterUpload ? std::min<qint64>(kRestartGraceMs, withinMs / 2) : 0;
  bool seenDown = false; // a question failed, or was answered "not ready"
  QString last;
  for (;;) {
    // No exchange outlasts --timeout, nor the whole wait.
    const int boundMs = int(std::clamp<qint64>(within.remainingTime(), 1, timeoutMs_));
    const QDeadlineTimer attempt(boundMs);
    try {
      const std::unique_ptr<TPrinterLink> link = OpenPrinterLink(target_, attempt);
      const StatusReading reading = QueryPrinterStatus(*link, attempt, boundMs);
      if (reading.status.Ready() && (seenDown || clock.elapsed() >= graceMs)) {
        const QString note = afterUpload && !seenDown
                                 ? QStringLiteral(" (it answered ready throughout; it was not "
                                                  "seen restarting)")
                                 : QString();
        Print(QStringLiteral("ready after %1 s%2\n").arg(Seconds(clock.elapsed()), note));
        return ExitStatus::Sent;
      }
      if (reading.status.Ready()) {
        last = QStringLiteral("it still answers ready: its restart has not begun");
      } else {
        seenDown = true;
        last = QStringLiteral("it answers that it is not ready (%1)")
                   .arg(NotReadyReasons(reading.status));
      }
    } catch (const EPrinterLinkError &e) {
      seenDown = true;
      // A question the end of the wait cut short says less than the
      // answer before it.
      if (!within.hasExpired() || last.isEmpty())
        last = e.message();
    }
    // Asks again until the bound itself, and not past it.
    if (!within.hasExpired())
      Pause(int(std::min<qint64>(kAskAgainMs, within.remainingTime())));
    if (within.hasExpired())
      throw ESendFailed(QStringLiteral("%1: not ready within %2 s; last: %3")
                            .arg(target_.Where(), Seconds(withinMs), last));
  }
}

} // namespace pellicar
