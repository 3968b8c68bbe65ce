// POSIX implementation of the host resolver seam: getaddrinfo on a thread
// of its own for names, answered on the spot for dotted addresses,
// "localhost" and services (which come from the local services file).

#include "platform/host_resolver.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace pellicar {

namespace {

// A lookup's right to report: taken away by Cancel. Reporting happens
// under the lock, so that once Cancel has returned nothing is reported.
struct Pending {
  std::mutex lock;
  HostResolver::Done done;
};

bool parseDotted(const QByteArray &host, quint32 &address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo *found = nullptr;
  if (::getaddrinfo(host.constData(), nullptr, &hints, &found) != 0)
    return false;
  address = ntohl(reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(found);
  return true;
}

HostResolver::Result resolveName(const QByteArray &host) {
  HostResolver::Result result;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  const int status = ::getaddrinfo(host.constData(), nullptr, &hints, &found);
  if (status == EAI_SYSTEM) {
    result.error = errno != 0 ? errno : EIO;
  } else if (status != 0) {
    result.error = status;
  } else {
    result.address = ntohl(reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(found);
  }
  return result;
}

class PosixHostResolver final : public HostResolver {
public:
  LookupId LookupHost(const QString &host, Done done) override {
    const LookupId id = nextId_++;
    Result result;
    const QByteArray name = host.toLocal8Bit();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
      result.address = INADDR_LOOPBACK;
      done(result);
      return id;
    }
    if (parseDotted(name, result.address)) {
      done(result);
      return id;
    }
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    {
      std::lock_guard<std::mutex> guard(registry_->lock);
      registry_->pending[id] = pending;
    }
    // The thread is left to finish on its own: getaddrinfo cannot be
    // interrupted, and a cancelled lookup must not hold anybody up.
    std::thread([registry = registry_, pending, name, id] {
      const Result found = resolveName(name);
      {
        std::lock_guard<std::mutex> guard(pending->lock);
        if (pending->done)
          pending->done(found);
        pending->done = nullptr;
      }
      std::lock_guard<std::mutex> guard(registry->lock);
      registry->pending.erase(id);
    }).detach();
    return id;
  }

  LookupId LookupService(const QString &service, Done done) override {
    const LookupId id = nextId_++;
    Result result;
    servent entry{};
    servent *found = nullptr;
    char buffer[1024];
    ::getservbyname_r(service.toLocal8Bit().constData(), "tcp", &entry, buffer, sizeof buffer,
                      &found);
    if (found == nullptr)
      result.error = EAI_SERVICE;
    else
      result.port = ntohs(quint16(found->s_port));
    done(result);
    return id;
  }

  void Cancel(LookupId id) override {
    std::shared_ptr<Pending> pending;
    {
      std::lock_guard<std::mutex> guard(registry_->lock);
      auto it = registry_->pending.find(id);
      if (it == registry_->pending.end())
        return;
      pending = it->second;
      registry_->pending.erase(it);
    }
    std::lock_guard<std::mutex> guard(pending->lock);
    pending->done = nullptr;
  }

private:
  // The lookups running on a thread; shared with those threads, which
  // remove their entry when they end.
  struct Registry {
    std::mutex lock;
    std::map<LookupId, std::shared_ptr<Pending>> pending;
  };

  std::atomic<LookupId> nextId_{1};
  std::shared_ptr<Registry> registry_ = std::make_shared<Registry>();
};

} // namespace

bool ParseDottedAddress(const QString &text, quint32 &address) {
  in_addr parsed{};
  if (::inet_aton(text.toLatin1().constData(), &parsed) == 0)
    return false;
  address = ntohl(parsed.s_addr);
  return true;
}

std::shared_ptr<HostResolver> SystemHostResolver() {
  static const std::shared_ptr<HostResolver> resolver = std::make_shared<PosixHostResolver>();
  return resolver;
}

} // namespace pellicar
