#pragma once

#include <QStringList>

#include <optional>

namespace pellicar {

// The names of the print queues of the print server that the machine's
// client configuration points at (on Linux: the CUPS server named by
// CUPS_SERVER or client.conf), in the server's order; nothing when no
// print server answered (a server without queues gives an empty list).
//
// Never throws. No server gives nothing at once; a server that does not
// answer gives nothing within about `timeoutMs` plus one second (the
// print-server library waits a fixed second for a request's go-ahead).
// Main thread or any other; it keeps no state.
std::optional<QStringList> QueryInstalledPrinters(int timeoutMs = 500);

// The same, with no server counting as no queues.
inline QStringList ListInstalledPrinters(int timeoutMs = 500) {
  return QueryInstalledPrinters(timeoutMs).value_or(QStringList());
}

} // namespace pellicar
