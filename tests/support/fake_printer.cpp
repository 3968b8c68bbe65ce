#include "support/fake_printer.h"

#include "support/wait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellicar::test {

namespace {

qint64 nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

FakePrinter::FakePrinter() : FakePrinter(Options{}) {}

FakePrinter::FakePrinter(Options options) : receiveBuffer_(options.receiveBuffer) {
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  // Set before listening, so that the accepted connections inherit it (and
  // advertise a small window from their first segment on).
  if (receiveBuffer_ > 0)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer_, sizeof receiveBuffer_);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(options.port);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    ::close(fd);
  } else {
    listener_ = fd;
    port_ = ntohs(address.sin_port);
  }
  thread_ = std::thread([this] { run(); });
}

FakePrinter::~FakePrinter() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  const quint64 one = 1;
  [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
  thread_.join();
  for (auto &connection : connections_)
    if (connection->fd >= 0)
      ::close(connection->fd);
  if (listener_ >= 0)
    ::close(listener_);
  ::close(wake_);
}

// ---- accessors ----

int FakePrinter::index(int connection) const {
  const int count = int(connections_.size());
  if (connection < 0)
    connection = count - 1;
  return connection >= 0 && connection < count ? connection : -1;
}

QByteArray FakePrinter::received() const {
  std::lock_guard<std::mutex> guard(lock_);
  return all_;
}

QByteArray FakePrinter::receivedOn(int connection) const {
  std::lock_guard<std::mutex> guard(lock_);
  const int i = index(connection);
  return i < 0 ? QByteArray() : connections_[size_t(i)]->data;
}

qsizetype FakePrinter::receivedSize() const {
  std::lock_guard<std::mutex> guard(lock_);
  return all_.size();
}

int FakePrinter::connectionCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return int(connections_.size());
}

FakePrinter::PeerEnd FakePrinter::peerEnd(int connection) const {
  std::lock_guard<std::mutex> guard(lock_);
  const int i = index(connection);
  return i < 0 ? PeerEnd::Open : connections_[size_t(i)]->end;
}

bool FakePrinter::waitForBytes(qsizetype count, int timeoutMs) const {
  return WaitUntil([&] { return receivedSize() >= count; }, timeoutMs);
}

bool FakePrinter::waitForConnections(int count, int timeoutMs) const {
  return WaitUntil([&] { return connectionCount() >= count; }, timeoutMs);
}

bool FakePrinter::waitForPeerEnd(int connection, int timeoutMs) const {
  return WaitUntil([&] { return peerEnd(connection) != PeerEnd::Open; }, timeoutMs);
}

// ---- commands ----

void FakePrinter::post(std::function<void()> command) {
  std::unique_lock<std::mutex> guard(lock_);
  const quint64 ticket = ++posted_;
  commands_.push_back(std::move(command));
  const quint64 one = 1;
  [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
  executedChanged_.wait(guard, [&] { return executed_ >= ticket || stop_; });
}

void FakePrinter::pauseReading() {
  post([this] { paused_ = true; });
}

void FakePrinter::resumeReading() {
  post([this] {
    paused_ = false;
    slowBytes_ = 0;
  });
}

void FakePrinter::readSlowly(int bytesPerRead, int intervalMs) {
  post([this, bytesPerRead, intervalMs] {
    paused_ = false;
    slowBytes_ = bytesPerRead;
    slowIntervalMs_ = intervalMs;
  });
}

void FakePrinter::send(const QByteArray &bytes, int connection) {
  post([this, bytes, connection] {
    const int i = index(connection);
    if (i < 0)
      return;
    connections_[size_t(i)]->outgoing.append(bytes);
    writeTo(*connections_[size_t(i)]);
  });
}

void FakePrinter::close(int connection) {
  post([this, connection] {
    const int i = index(connection);
    if (i < 0 || connections_[size_t(i)]->fd < 0)
      return;
    Connection &c = *connections_[size_t(i)];
    ::shutdown(c.fd, SHUT_WR);
    c.closing = true;
  });
}

void FakePrinter::reset(int connection) {
  post([this, connection] {
    const int i = index(connection);
    if (i < 0 || connections_[size_t(i)]->fd < 0)
      return;
    Connection &c = *connections_[size_t(i)];
    const linger abort{1, 0};
    ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(c.fd);
    c.fd = -1;
  });
}

// ---- the printer's thread ----

void FakePrinter::run() {
  qint64 nextSlowRead = 0;
  std::vector<pollfd> polled;
  std::vector<Connection *> polledConnections;
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    std::vector<std::function<void()>> commands;
    commands.swap(commands_);
    for (auto &command : commands)
      command();
    if (!commands.empty()) {
      executed_ += commands.size();
      executedChanged_.notify_all();
    }
    if (stop_)
      return;

    const qint64 now = nowMs();
    const bool slowWait = slowBytes_ > 0 && now < nextSlowRead;
    polled.assign({pollfd{wake_, POLLIN, 0}, pollfd{listener_, POLLIN, 0}});
    polledConnections.assign(2, nullptr);
    for (auto &connection : connections_) {
      if (connection->fd < 0)
        continue;
      const bool reading = connection->closing || (!paused_ && !slowWait);
      short events = reading ? POLLIN : 0;
      if (!connection->outgoing.isEmpty())
        events |= POLLOUT;
      // A connection that is neither read nor written is left out: poll
      // would report its hang-up over and over.
      if (events == 0)
        continue;
      polled.push_back(pollfd{connection->fd, events, 0});
      polledConnections.push_back(connection.get());
    }
    const int timeout = slowWait ? int(nextSlowRead - now) : -1;

    guard.unlock();
    ::poll(polled.data(), polled.size(), timeout);
    guard.lock();

    if (polled[0].revents & POLLIN) {
      quint64 count;
      [[maybe_unused]] auto read = ::read(wake_, &count, sizeof count);
    }
    if (polled[1].revents & POLLIN)
      accept();
    bool readSome = false;
    for (size_t i = 2; i < polled.size(); ++i) {
      Connection &connection = *polledConnections[i];
      if (connection.fd >= 0 && (polled[i].revents & POLLOUT))
        writeTo(connection);
      if (connection.fd >= 0 && (polled[i].events & POLLIN) &&
          (polled[i].revents & (POLLIN | POLLHUP | POLLERR))) {
        readFrom(connection, now);
        readSome = true;
      }
    }
    if (readSome && slowBytes_ > 0)
      nextSlowRead = nowMs() + slowIntervalMs_;
  }
}

void FakePrinter::accept() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
      return;
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connections_.push_back(std::move(connection));
  }
}

void FakePrinter::readFrom(Connection &connection, qint64) {
  char buffer[65536];
  const size_t wanted = slowBytes_ > 0 && !connection.closing
                            ? std::min<size_t>(size_t(slowBytes_), sizeof buffer)
                            : sizeof buffer;
  const ssize_t n = ::recv(connection.fd, buffer, wanted, 0);
  if (n > 0) {
    connection.data.append(buffer, n);
    all_.append(buffer, n);
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
    return;
  connection.end = n == 0 ? PeerEnd::Clean : PeerEnd::Reset;
  finish(connection);
}

void FakePrinter::writeTo(Connection &connection) {
  while (!connection.outgoing.isEmpty() && connection.fd >= 0) {
    const ssize_t n = ::send(connection.fd, connection.outgoing.constData(),
                             size_t(connection.outgoing.size()), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        connection.outgoing.clear();
      return;
    }
    connection.outgoing.remove(0, n);
  }
}

// The client has closed its side (or broken the connection): everything it
// sent has been read, so closing ours sends a clean end of stream.
void FakePrinter::finish(Connection &connection) {
  ::close(connection.fd);
  connection.fd = -1;
}

} // namespace pellicar::test
