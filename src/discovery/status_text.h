#pragma once

#include "commands/status_answers.h"

#include <QString>

#include <utility>
#include <vector>

namespace pellicar {

// The printer's status in words, the same everywhere it is shown: the
// command-line tool's `status` lines and JSON keys, the discovery's status
// column and the window's indicator. Pure functions; any thread.

using StatusFieldList = std::vector<std::pair<QString, QString>>;

// online, cover, paper, feed button, error, drawer: the keys and values of
// `status` ("paper: near end").
StatusFieldList StatusFields(const ReportedStatus &status);

// The fields as `status` prints them, one "key: value" line each.
QString StatusLines(const ReportedStatus &status);

// Why a printer that answered is not ready ("offline, cover open"); empty
// when it is ready.
QString NotReadyReasons(const ReportedStatus &status);

// The one state a glance needs: "Ready", "Paper low", "Paper out", "Cover
// open", "Offline" or "Error: NAME", the most pressing first (an error
// stops a printer whatever else holds; an open cover takes it offline).
QString StateText(const ReportedStatus &status);

// What the indicator shows when the printer did not answer.
inline constexpr const char *kNoAnswerText = "No answer";

} // namespace pellicar
