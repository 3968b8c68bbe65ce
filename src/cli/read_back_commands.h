#pragma once

#include "cli/argument_reader.h"
#include "cli/cli_request.h"

namespace pellicar {

// How long wait-ready, and firmware --wait-ready without SECONDS, wait for
// the printer: a restart after a firmware upload takes well under two
// minutes.
inline constexpr int kDefaultWaitReadyMs = 120000;

// status [--json]
CliJob ParseStatus(TArgumentReader &arguments);

// wait-ready [--within SECONDS]
CliJob ParseWaitReady(TArgumentReader &arguments);

// SECONDS: a number above 0 and up to a day, in milliseconds (at least 1).
// EUsageError naming `option` otherwise.
int SecondsValue(const QString &option, const QString &value, const QString &context);

// Whether `value` reads as a number of seconds (what may follow
// "--wait-ready").
bool IsSeconds(const QString &value);

} // namespace pellicar
