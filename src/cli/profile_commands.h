#pragma once

#include "cli/argument_reader.h"
#include "cli/cli_request.h"

namespace pellicar {

// apply PROFILE [--only SECTION,...]: reads and checks the profile, then
// builds its sections in sending order (see BuildProfileSections) into one
// job of kind Commands whose `sections` say which sequences belong to
// which section. A profile that does not pass raises EBadInput naming the
// file, the JSON path and the reason; nothing is sent then.
CliJob ParseApply(TArgumentReader &arguments);

// profile check PROFILE: the same reading and checks; reports the sections
// the profile would send.
CliJob ParseProfileCommand(TArgumentReader &arguments);

// One line per section of an apply, after it was sent or failed:
//   "base: sent", "wifi: failed", "ip: not confirmed".
// Sections before the first unconfirmed sequence are sent, the one holding
// it failed, and those after it not confirmed (the channel may have passed
// some of their bytes on).
// `confirmed` is the number of the job's sequences, from the first, that
// the channel confirmed whole (ESendFailed::confirmedSequences; -1 when it
// cannot tell); `failed` whether the job failed at all.
QString SectionOutcomes(const CliJob &job, bool failed, int confirmed);

} // namespace pellicar
