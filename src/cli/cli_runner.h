#pragma once

#include "cli/delivery.h"

#include <QByteArray>
#include <QList>

#include <memory>

namespace pellicar {

// The whole tool: reads the arguments (the program's name left out, as the
// bytes the system passed), builds, sends or prints, writes any message on
// standard error and returns the exit status (ExitStatus). Needs a
// QCoreApplication; runs its event loop while a channel waits.
int RunCli(const QList<QByteArray> &arguments);

// The channel a request names, as a delivery (the dry run's printing for
// none). A progress bar shows on a terminal. Main thread.
std::unique_ptr<TDelivery> DeliveryFor(const CliRequest &request);

} // namespace pellicar
