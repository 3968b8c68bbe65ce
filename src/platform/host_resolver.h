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
// codes) and positive for system errors; SystemErrorText gives the text.
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

  // Starts resolving `host` (a name or a dotted address). Dotted addresses,
  // "localhost" and names under ".invalid" (which never exist) are answered
  // without any network traffic. Returns the lookup's id; 0 when the lookup
  // could not be started, with `error` set, `done` never called and
  // nothing left registered.
  virtual LookupId LookupHost(const QString &host, Done done, int &error) = 0;

  // Starts resolving the TCP service `service` to its port; as LookupHost.
  virtual LookupId LookupService(const QString &service, Done done, int &error) = 0;

  // Abandons a lookup at once: its `done` is not called, and it no longer
  // counts as under way. Unknown or finished ids are ignored. Any thread.
  virtual void Cancel(LookupId id) = 0;

  // Lookups started and neither answered nor cancelled.
  virtual int LookupsUnderWay() const = 0;
};

// The machine's resolver. Shared; any thread.
std::shared_ptr<HostResolver> SystemHostResolver();

// Starts `body` on a thread of its own, or throws std::system_error when
// no thread can be started.
using ThreadStarter = std::function<void(std::function<void()> body)>;

// A resolver like the machine's, whose lookup threads are started by
// `start` (tests use it to make the start fail).
std::shared_ptr<HostResolver> CreateSystemHostResolver(ThreadStarter start);

// Reads an IPv4 address in the platform's dotted notation into `address`
// (host byte order). Returns false, leaving `address` alone, when the text
// is not one.
bool ParseDottedAddress(const QString &text, quint32 &address);

} // namespace pellicar
