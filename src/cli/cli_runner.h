#pragma once

#include <QByteArray>
#include <QList>

namespace pellicar {

// The whole tool: reads the arguments (the program's name left out, as the
// bytes the system passed), builds, sends or prints, writes any message on
// standard error and returns the exit status (ExitStatus). Needs a
// QCoreApplication; runs its event loop while a channel waits.
int RunCli(const QList<QByteArray> &arguments);

} // namespace pellicar
