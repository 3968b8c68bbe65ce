#pragma once

#include "cli/cli_request.h"

#include <QStringList>

namespace pellicar {

// Reads the whole command line (without the program's name):
//   [--timeout SECONDS] [CHANNEL] COMMAND [ARGUMENTS]
// The options before the command are the tool's; those after it are the
// command's, so "--baud" before the command is the computer's side of the
// serial line and after "base" the printer's. Raises EUsageError, or the
// command's own errors (see ParseCommand).
CliRequest ParseCommandLine(const QStringList &arguments);

} // namespace pellicar
