#include "printer/tcp_listener.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellicar {

namespace {

// Connections that may wait while one is served (the system may round it).
constexpr int kBacklog = 16;

// The receive buffer of each connection, as small as a receipt printer's
// (a few KiB). The system's default on loopback grows to megabytes and
// acknowledges, on the program's behalf, bytes it never reads: a sender
// whose bytes are cut off by --reset-after or left unread by
// --stop-reading-after would be told they all arrived. With a printer's
// buffer, at most about this much is acknowledged beyond what was read
// (the system doubles the value for its own bookkeeping).
constexpr int kReceiveBufferBytes = 4096;

QString SystemError(const char *what) {
  return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

QString PeerText(const sockaddr_storage &peer) {
  char text[INET6_ADDRSTRLEN] = {};
  if (peer.ss_family == AF_INET6) {
    const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(peer);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    return QStringLiteral("[%1]:%2").arg(QLatin1String(text)).arg(ntohs(in6.sin6_port));
  }
  const auto &in4 = reinterpret_cast<const sockaddr_in &>(peer);
  inet_ntop(AF_INET, &in4.sin_addr, text, sizeof text);
  return QStringLiteral("%1:%2").arg(QLatin1String(text)).arg(ntohs(in4.sin_port));
}

} // namespace

bool IsNumericAddress(const QString &text) {
  const QByteArray bytes = text.toLatin1();
  in6_addr address{};
  return inet_pton(AF_INET, bytes.constData(), &address) == 1 ||
         inet_pton(AF_INET6, bytes.constData(), &address) == 1;
}

TcpListener::TcpListener(QObject *parent) : QObject(parent) {}

TcpListener::~TcpListener() {
  notifier_.reset();
  if (fd_ >= 0)
    ::close(fd_);
}

bool TcpListener::Listen(const QString &address, quint16 port, QString *error) {
  const QByteArray text = address.toLatin1();
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto &in4 = reinterpret_cast<sockaddr_in &>(storage);
  auto &in6 = reinterpret_cast<sockaddr_in6 &>(storage);
  if (inet_pton(AF_INET, text.constData(), &in4.sin_addr) == 1) {
    in4.sin_family = AF_INET;
    in4.sin_port = htons(port);
    length = sizeof in4;
  } else if (inet_pton(AF_INET6, text.constData(), &in6.sin6_addr) == 1) {
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    length = sizeof in6;
  } else {
    *error = QStringLiteral("%1 is not a numeric address").arg(address);
    return false;
  }
  const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = SystemError("socket");
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Before listen(), so that every accepted connection inherits it and its
  // window scale is chosen for it from the first segment on.
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&storage), length) != 0 ||
      ::listen(fd, kBacklog) != 0) {
    *error = SystemError("cannot listen");
    ::close(fd);
    return false;
  }
  // Listening again (a new address): the old socket goes only now, so a
  // failure above leaves the printer where it was.
  notifier_.reset();
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = fd;
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  ::getsockname(fd_, reinterpret_cast<sockaddr *>(&bound), &boundLength);
  port_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 &>(bound).sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in &>(bound).sin_port);
  address_ = address;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TcpListener::connectionWaiting);
  return true;
}

QString TcpListener::Endpoint() const {
  if (address_.contains(QLatin1Char(':')))
    return QStringLiteral("[%1]:%2").arg(address_).arg(port_);
  return QStringLiteral("%1:%2").arg(address_).arg(port_);
}

void TcpListener::SetWatching(bool on) {
  if (notifier_)
    notifier_->setEnabled(on);
}

int TcpListener::Accept(QString *peer, QString *error) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int fd =
      ::accept4(fd_, reinterpret_cast<sockaddr *>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    *peer = PeerText(address);
    return fd;
  }
  // Gone before it was taken, or not there: nothing to say.
  if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR)
    *error = SystemError("cannot accept a connection");
  return -1;
}

} // namespace pellicar
