#pragma once

#include <QStringList>

namespace pellicar {

// The names of the print queues of the print server that the machine's
// client configuration points at (on Linux: the CUPS server named by
// CUPS_SERVER or client.conf), in the server's order.
//
// Never throws. No server, or one that does not answer in time, gives an
// empty list; the call returns within about `timeoutMs` milliseconds.
// Main thread or any other; it keeps no state.
QStringList ListInstalledPrinters(int timeoutMs = 1000);

} // namespace pellicar
