#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace pellicar {

// The report of a fleet run. Each printer's result is an object:
//   target, outcome ("ok", "failed", "interrupted", "not started"),
//   message (why, when not "ok"), sections [{section, outcome, bytes}],
//   sectionsSent, bytes (confirmed by the channel), seconds,
//   statusBefore and statusAfter (as `status --json` gives them, or null),
//   statusBeforeNote, statusAfterNote (why there is none, when there is
//   none: a print queue, an address not verified),
//   address (the new address it answered at, after --verify-address).
struct FleetSummary {
  int total = 0;
  int succeeded = 0;
  int failed = 0; // every printer that did not succeed, those not started included
  bool interrupted = false;
};

FleetSummary Summarize(const std::vector<QJsonObject> &results, bool interrupted);

// A table (printer, outcome, sections sent, bytes, seconds, status after),
// then one line per printer that did not succeed saying why, then the
// counts.
QString FleetTable(const std::vector<QJsonObject> &results, const FleetSummary &summary);

// {"printers": [...], "total": N, "succeeded": N, "failed": N,
//  "interrupted": bool}, one line.
QByteArray FleetJson(const std::vector<QJsonObject> &results, const FleetSummary &summary);

// "3 of 50 printers failed", and what an interruption left out.
QString FailureSentence(const FleetSummary &summary);

// "[3/50] tcp:10.0.0.5  ok  7/7 sections" with a line end: one printer
// done, the `done`th of `total`.
QString ProgressLine(const QJsonObject &result, int done, int total);

// A status object in a few words: "ready", "paper out, cover open".
QString StatusSummary(const QJsonObject &status);

} // namespace pellicar
