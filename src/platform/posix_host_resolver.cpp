// POSIX implementation of the host resolver seam: getaddrinfo on a thread
// of its own for names, answered on the spot for dotted addresses,
// "localhost", names under ".invalid" and services (which come from the
// local services file).

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
#include <optional>
#include <system_error>
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

// Names under the reserved ".invalid" domain never exist: they are refused
// without asking anybody.
bool isInvalidName(const QString &host) {
  QString name = host.toLower();
  if (name.endsWith(QLatin1Char('.')))
    name.chop(1);
  return name == QLatin1String("invalid") || name.endsWith(QLatin1String(".invalid"));
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
  explicit PosixHostResolver(ThreadStarter start) : start_(std::move(start)) {}

  LookupId LookupHost(const QString &host, Done done, int &error) override {
    error = 0;
    const LookupId id = nextId_++;
    Result result;
    const QByteArray name = host.toLocal8Bit();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
      result.address = INADDR_LOOPBACK;
      done(result);
      return id;
    }
    if (isInvalidName(host)) {
      result.error = EAI_NONAME;
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
    // interrupted, and a cancelled lookup must not hold anybody up. It
    // shares nothing with the caller but `pending`, whose report Cancel
    // has taken away, so it leaves as soon as the call returns (at once if
    // it was cancelled before it started).
    try {
      start_([registry = registry_, pending, name, id] {
        std::optional<Result> found;
        {
          std::lock_guard<std::mutex> guard(pending->lock);
          if (pending->done)
            found.emplace();
        }
        if (found)
          found = resolveName(name);
        {
          std::lock_guard<std::mutex> guard(pending->lock);
          if (pending->done && found)
            pending->done(*found);
          pending->done = nullptr;
        }
        std::lock_guard<std::mutex> guard(registry->lock);
        registry->pending.erase(id);
      });
    } catch (const std::system_error &e) {
      std::lock_guard<std::mutex> guard(registry_->lock);
      registry_->pending.erase(id);
      error = e.code().value() != 0 ? e.code().value() : EAGAIN;
      return 0;
    }
    return id;
  }

  LookupId LookupService(const QString &service, Done done, int &error) override {
    error = 0;
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

  int LookupsUnderWay() const override {
    std::lock_guard<std::mutex> guard(registry_->lock);
    return int(registry_->pending.size());
  }

private:
  // The lookups running on a thread; shared with those threads, which
  // remove their entry when they end.
  struct Registry {
    std::mutex lock;
    std::map<LookupId, std::shared_ptr<Pending>> pending;
  };

  ThreadStarter start_;
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

std::shared_ptr<HostResolver> CreateSystemHostResolver(ThreadStarter start) {
  return std::make_shared<PosixHostResolver>(std::move(start));
}

std::shared_ptr<HostResolver> SystemHostResolver() {
  static const std::shared_ptr<HostResolver> resolver = CreateSystemHostResolver(
      [](std::function<void()> body) { std::thread(std::move(body)).detach(); });
  return resolver;
}

} // namespace pellicar
