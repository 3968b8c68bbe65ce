#include "cli/fleet_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <algorithm>
#include <array>

namespace pellicar {

namespace {

QString Text(const QJsonObject &object, const char *key) {
  return object.value(QLatin1String(key)).toString();
}

QString SectionsColumn(const QJsonObject &result) {
  const QJsonArray sections = result.value(QStringLiteral("sections")).toArray();
  if (sections.isEmpty())
    return QStringLiteral("-");
  return QStringLiteral("%1/%2")
      .arg(result.value(QStringLiteral("sectionsSent")).toInt())
      .arg(sections.size());
}

QString StatusAfterColumn(const QJsonObject &result) {
  const QJsonValue status = result.value(QStringLiteral("statusAfter"));
  if (status.isObject()) {
    const QString address = Text(result, "address");
    return StatusSummary(status.toObject()) +
           (address.isEmpty() ? QString() : QStringLiteral(" at %1").arg(address));
  }
  const QString note = Text(result, "statusAfterNote");
  return note.isEmpty() ? QStringLiteral("-") : note;
}

} // namespace

QString StatusSummary(const QJsonObject &status) {
  QStringList problems;
  if (Text(status, "online") != QLatin1String("yes"))
    problems << QStringLiteral("offline");
  if (Text(status, "cover") == QLatin1String("open"))
    problems << QStringLiteral("cover open");
  if (Text(status, "paper") == QLatin1String("out"))
    problems << QStringLiteral("paper out");
  if (const QString error = Text(status, "error");
      !error.isEmpty() && error != QLatin1String("none"))
    problems << QStringLiteral("%1 error").arg(error);
  if (!problems.isEmpty())
    return problems.join(QStringLiteral(", "));
  return Text(status, "paper") == QLatin1String("near end") ? QStringLiteral("ready, paper low")
                                                            : QStringLiteral("ready");
}

FleetSummary Summarize(const std::vector<QJsonObject> &results, bool interrupted) {
  FleetSummary summary;
  summary.total = int(results.size());
  summary.interrupted = interrupted;
  for (const QJsonObject &result : results)
    if (Text(result, "outcome") == QLatin1String("ok"))
      ++summary.succeeded;
  summary.failed = summary.total - summary.succeeded;
  return summary;
}

QString FleetTable(const std::vector<QJsonObject> &results, const FleetSummary &summary) {
  const std::array<QString, 6> headings = {
      QStringLiteral("PRINTER"), QStringLiteral("OUTCOME"), QStringLiteral("SECTIONS"),
      QStringLiteral("BYTES"),   QStringLiteral("SECONDS"), QStringLiteral("STATUS AFTER")};
  std::vector<std::array<QString, 6>> rows;
  rows.push_back(headings);
  for (const QJsonObject &result : results)
    rows.push_back({Text(result, "target"), Text(result, "outcome"), SectionsColumn(result),
                    QString::number(qint64(result.value(QStringLiteral("bytes")).toDouble())),
                    QString::number(result.value(QStringLiteral("seconds")).toDouble(), 'f', 2),
                    StatusAfterColumn(result)});
  std::array<qsizetype, 6> widths{};
  for (const auto &row : rows)
    for (size_t c = 0; c < row.size(); ++c)
      widths[c] = std::max(widths[c], row[c].size());
  QString table;
  for (const auto &row : rows) {
    QString line;
    for (size_t c = 0; c < row.size(); ++c) {
      const bool number = c == 3 || c == 4;
      const QString cell = number && &row != &rows.front() ? row[c].rightJustified(widths[c])
                                                           : row[c].leftJustified(widths[c]);
      line += c + 1 < row.size() ? cell + QStringLiteral("  ") : row[c];
    }
    table += line + QLatin1Char('\n');
  }
  bool first = true;
  for (const QJsonObject &result : results) {
    const QString message = Text(result, "message");
    if (Text(result, "outcome") == QLatin1String("ok") || message.isEmpty())
      continue;
    if (std::exchange(first, false))
      table += QLatin1Char('\n');
    table += QStringLiteral("%1: %2\n").arg(Text(result, "target"), message);
  }
  table += QStringLiteral("\n%1 of %2 printers set up%3\n")
               .arg(summary.succeeded)
               .arg(summary.total)
               .arg(summary.interrupted ? QStringLiteral(" (interrupted)") : QString());
  return table;
}

QByteArray FleetJson(const std::vector<QJsonObject> &results, const FleetSummary &summary) {
  QJsonArray printers;
  for (const QJsonObject &result : results)
    printers.append(result);
  QJsonObject report;
  report.insert(QStringLiteral("printers"), printers);
  report.insert(QStringLiteral("total"), summary.total);
  report.insert(QStringLiteral("succeeded"), summary.succeeded);
  report.insert(QStringLiteral("failed"), summary.failed);
  report.insert(QStringLiteral("interrupted"), summary.interrupted);
  return QJsonDocument(report).toJson(QJsonDocument::Compact) + '\n';
}

QString FailureSentence(const FleetSummary &summary) {
  QString sentence =
      QStringLiteral("%1 of %2 printers failed").arg(summary.failed).arg(summary.total);
  if (summary.interrupted)
    sentence += QStringLiteral(" or were interrupted");
  return sentence + QLatin1Char('.');
}

QString ProgressLine(const QJsonObject &result, int done, int total) {
  return QStringLiteral("[%1/%2] %3  %4  %5 sections\n")
      .arg(done)
      .arg(total)
      .arg(Text(result, "target"), Text(result, "outcome"), SectionsColumn(result));
}

} // namespace pellicar
