#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

namespace pellicar {

// Asynchronous, cancellable resolution of host names to IPv4 addresses and
// of service names to TCP ports.
//
// A lookup's `done` is called at most once, from any thread, possibly from
// inside the call that started it; never after Cancel for it has returned.
// Error codes are negative for lookup failures (the platform's resolver
// codes) and positive for system errors; SocketErrorText gives the text.
class HostResolver {
public:
  struct Result {
    int error = 0;       // 0 on success
    quint32 address = 0; // host lookups: the first IPv4 address, host byte order
    quint16 port = 0;    // service lookups: the port, host byte order
  };
  using Done = std::function<void(const Result &result)>;
  using LookupId = quint64;

  virtual ~HostResolver() = default;

  // Starts resolving `host` (a name or a dotted address). Dotted addresses
  // and "localhost" are answered without any network traffic. Returns the
  // lookup's id, never 0.
  virtual LookupId LookupHost(const QString &host, Done done) = 0;

  // Starts resolving the TCP service `service` to its port.
  virtual LookupId LookupService(const QString &service, Done done) = 0;

  // Abandons a lookup; unknown or finished ids are ignored. Any thread.
  virtual void Cancel(LookupId id) = 0;
};

// The machine's resolver. Shared; any thread.
std::shared_ptr<HostResolver> SystemHostResolver();

// Reads an IPv4 address in the platform's dotted notation into `address`
// (host byte order). Returns false, leaving `address` alone, when the text
// is not one.
bool ParseDottedAddress(const QString &text, quint32 &address);

} // namespace pellicar
