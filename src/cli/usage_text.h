#pragma once

#include <QString>

namespace pellicar {

// The tool's own help ("pellicar-cli --help").
QString ToolUsage();

// "pellicar-cli --version": the name and the project's version.
QString ToolVersion();

// The help of one command ("pellicar-cli base --help"); empty for a name
// that is not a command.
QString CommandUsage(const QString &command);

// The line that follows every usage error.
QString UsageHint(const QString &command);

} // namespace pellicar
