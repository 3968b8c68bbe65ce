#pragma once

#include "cli/argument_reader.h"
#include "cli/cli_errors.h"
#include "cli/cli_request.h"

namespace pellicar {

// discover [RANGE...] [--port PORT] [--json] [--inventory FILE]
CliJob ParseDiscover(TArgumentReader &arguments);

// Lists what this machine reaches, scans the job's ranges, and prints the
// table or JSON (and writes the inventory). Sent when the scan ran to its
// end; SendFailed when its whole-scan limit cut it short or the inventory
// could not be written.
ExitStatus RunDiscover(const CliJob &job);

} // namespace pellicar
