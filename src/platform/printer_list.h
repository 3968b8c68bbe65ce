#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

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

// A print queue as the print server describes it.
struct PrintQueueInfo {
  enum class State { Idle, Printing, Stopped, Unknown };
  QString name;
  QString deviceUri; // where the server sends the queue's jobs ("socket://...")
  State state = State::Unknown;
  bool acceptingJobs = false;
  QString stateMessage; // the server's note on the state, often empty
};

// The print queues with their device URIs and states, as
// QueryInstalledPrinters, with the same bounds; nothing when no print
// server answered. Any thread.
std::optional<std::vector<PrintQueueInfo>> QueryPrintQueues(int timeoutMs = 500);

} // namespace pellicar
