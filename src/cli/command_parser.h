#pragma once

#include "cli/argument_reader.h"
#include "cli/cli_request.h"

namespace pellicar {

// Reads COMMAND [ARGUMENTS] and builds what it sends with the window's own
// builders, so that every command's bytes are those of its button for the
// same values. Reads the files a command names (logo, firmware) and checks
// them. Raises EUsageError for a command line that does not say what to do,
// EBadInput, EConvertError or ETextTooLong for a value the window would
// refuse as well; nothing is sent by then.
//
// "--help" (or "-h") anywhere after a known command gives that command's
// help. `timeoutMs` bounds the wait of "list printers", which raises
// ESendFailed when no print server answers.
CliJob ParseCommand(TArgumentReader &arguments, int timeoutMs);

// Whether `command` sends one long transfer (logo, firmware), which the
// serial channel refuses.
bool SendsStream(const QString &command);

// A word chosen from `words` (letter case ignored): its index. EUsageError
// naming `option` and the choices otherwise.
int ChooseWord(const QString &option, const QString &value, const QStringList &words,
               const QString &context);

} // namespace pellicar
