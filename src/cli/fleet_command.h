#pragma once

#include "cli/argument_reader.h"
#include "cli/cli_request.h"

namespace pellicar {

// apply PROFILE --targets FILE [--parallel N] [--verify-address [SECONDS]]
//       [--only SECTION,...] [--json]
//
// Reads the profile and the targets file and checks every printer's
// profile with its overrides before anything is sent: a bad value raises
// EBadInput naming the file's line, the JSON path and the reason. Refused
// as well: two printers that would be given one IP or MAC address. Builds
// a job of kind Fleet (see FleetPlan). `timeoutMs` bounds each step of
// each printer.
CliJob ParseFleetApply(TArgumentReader &arguments, int timeoutMs);

// The worker behind one printer of a fleet run (`pellicar-cli
// fleet-worker`, started by TFleetRunner, not meant to be typed): reads
// its FleetPrinterJob's `work` from standard input, then asks the status,
// sends the profile's sections over one channel, asks the status again
// and, when asked to, waits for the printer at its new address. Writes one
// result object (see fleet_report.h) as a line on standard output and
// returns 0; 1 when it could not even read its work. SIGINT lets it finish
// the step it is in and stop.
int RunFleetWorker();

} // namespace pellicar
