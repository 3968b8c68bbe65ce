#include "support/withholding_proxy.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pellicar::test {

struct WithholdingProxy::Pair {
  int client = -1;
  int server = -1;
  // What the client sent since the last request whose operation was read.
  QByteArray scan;
  bool silenced = false; // the server's answers are dropped
  bool starved = false;  // the client's bytes are dropped too
  ~Pair() {
    if (client >= 0)
      close(client);
    if (server >= 0)
      close(server);
  }
};

namespace {

bool unixAddress(const QByteArray &path, sockaddr_un &address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (size_t(path.size()) >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
  return true;
}

// Bytes of a chunked or a plain request are scanned for the next request
// line; what may still be the start of one is kept, the rest dropped, so
// that a long document does not pile up here.
constexpr qsizetype kScanKept = 8;

} // namespace

WithholdingProxy::WithholdingProxy() = default;
WithholdingProxy::~WithholdingProxy() { Stop(); }

bool WithholdingProxy::Start(const QString &server, const QString &path, QString *error) {
  Stop();
  auto failed = [&](const char *what) {
    if (error != nullptr)
      *error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                            QString::fromLocal8Bit(strerror(errno)));
    Stop();
    return false;
  };
  server_ = QFile::encodeName(server);
  path_ = path;
  sockaddr_un address;
  if (!unixAddress(QFile::encodeName(path), address)) {
    errno = ENAMETOOLONG;
    return failed("socket path");
  }
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0)
    return failed("socket");
  if (bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
    return failed("bind");
  if (listen(listenFd_, 16) != 0)
    return failed("listen");
  wakeFd_ = eventfd(0, EFD_CLOEXEC);
  if (wakeFd_ < 0)
    return failed("eventfd");
  thread_ = std::thread([this] { run(); });
  return true;
}

void WithholdingProxy::Stop() {
  if (thread_.joinable()) {
    const quint64 one = 1;
    [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  pairs_.clear();
  if (listenFd_ >= 0) {
    close(listenFd_);
    unlink(QFile::encodeName(path_).constData());
  }
  if (wakeFd_ >= 0)
    close(wakeFd_);
  listenFd_ = wakeFd_ = -1;
}

void WithholdingProxy::Arm(int operation, Withhold what) {
  armedWhat_ = what;
  fired_ = false;
  armedOperation_ = operation;
}

void WithholdingProxy::accept() {
  const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0)
    return;
  auto pair = std::make_unique<Pair>();
  pair->client = client;
  if (deaf_) {
    pair->silenced = pair->starved = true;
    pairs_.push_back(std::move(pair));
    return;
  }
  sockaddr_un address;
  pair->server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (pair->server < 0 || !unixAddress(server_, address) ||
      connect(pair->server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
    return; // the client sees its connection closed, as with no server
  pairs_.push_back(std::move(pair));
}

size_t WithholdingProxy::inspect(Pair &pair, const char *data, size_t count) {
  if (pair.silenced)
    return pair.starved ? 0 : count;
  const int armed = armedOperation_;
  if (armed == 0 || fired_) {
    pair.scan.clear();
    return count;
  }
  const qsizetype before = pair.scan.size(); // where `data` begins in scan
  pair.scan.append(data, qsizetype(count));
  QByteArray &scan = pair.scan;
  qsizetype from = 0;
  for (;;) {
    const qsizetype start = scan.indexOf("POST ", from);
    if (start < 0) {
      from = std::max(from, scan.size() - kScanKept);
      break;
    }
    from = start;
    const qsizetype headerEnd = scan.indexOf("\r\n\r\n", start);
    if (headerEnd < 0)
      break;
    qsizetype body = headerEnd + 4;
    if (scan.mid(start, headerEnd - start).toLower().contains("transfer-encoding: chunked")) {
      const qsizetype sizeEnd = scan.indexOf("\r\n", body);
      if (sizeEnd < 0)
        break;
      body = sizeEnd + 2;
    }
    if (scan.size() < body + 4)
      break;
    const int operation = (quint8(scan[body + 2]) << 8) | quint8(scan[body + 3]);
    from = body + 4;
    if (operation == armed && !fired_.exchange(true)) {
      pair.silenced = true;
      pair.starved = armedWhat_ != Withhold::Answers;
      deaf_ = armedWhat_ == Withhold::Server;
      scan.clear();
      // Starved: the server gets the request up to its operation id, and
      // then waits for the rest.
      return pair.starved ? size_t(std::max<qsizetype>(0, from - before)) : count;
    }
  }
  scan.remove(0, std::max<qsizetype>(0, from));
  return count;
}

bool WithholdingProxy::sendAll(int fd, const char *data, size_t count) {
  while (count > 0) {
    const ssize_t sent = send(fd, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      count -= size_t(sent);
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    pollfd polled[] = {{wakeFd_, POLLIN, 0}, {fd, POLLOUT, 0}};
    if (poll(polled, 2, -1) < 0 && errno != EINTR)
      return false;
    if (polled[0].revents != 0)
      return false;
  }
  return true;
}

void WithholdingProxy::run() {
  std::vector<pollfd> polled;
  char buffer[65536];
  for (;;) {
    polled.assign({{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}});
    for (const auto &pair : pairs_) {
      polled.push_back({pair->client, POLLIN, 0});
      polled.push_back({pair->server, POLLIN, 0});
    }
    if (poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (polled[0].revents != 0)
      return;
    std::vector<Pair *> ended;
    for (size_t i = 0; i < pairs_.size(); ++i) {
      Pair &pair = *pairs_[i];
      for (const bool fromClient : {true, false}) {
        if (polled[2 + 2 * i + (fromClient ? 0 : 1)].revents == 0)
          continue;
        const int from = fromClient ? pair.client : pair.server;
        const ssize_t count = recv(from, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
          ended.push_back(&pair);
          break;
        }
        if (count < 0)
          continue;
        const size_t passed =
            fromClient ? inspect(pair, buffer, size_t(count)) : (pair.silenced ? 0 : size_t(count));
        if (passed > 0 && !sendAll(fromClient ? pair.server : pair.client, buffer, passed)) {
          ended.push_back(&pair);
          break;
        }
      }
    }
    std::erase_if(pairs_, [&](const auto &pair) {
      return std::find(ended.begin(), ended.end(), pair.get()) != ended.end();
    });
    if (polled[1].revents & POLLIN)
      accept();
  }
}

} // namespace pellicar::test
