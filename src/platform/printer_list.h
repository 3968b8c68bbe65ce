#pragma once

#include <QStringList>

namespace pellicar {

// The names of the print queues of the print server that the machine's
// client configuration points at (on Linux: the CUPS server named by
// CUPS_SERVER or client.conf), in the server's order.
//
// Never throws. No server gives an empty list at once; a server that does
// not answer gives one within about `timeoutMs` plus one second (the
// print-server library waits a fixed second for a request's go-ahead).
// Main thread or any other; it keeps no state.
QStringList ListInstalledPrinters(int timeoutMs = 500);

} // namespace pellicar
