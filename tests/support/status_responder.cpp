#include "support/status_responder.h"

#include <QTimer>

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellicar::test {

StatusResponder::StatusResponder() {
  Listen();
  line_.SetOnReceive([this](const QByteArray &piece) {
    received_ += piece;
    Take(piece, ptyPending_, [this](const QByteArray &bytes) { line_.Send(bytes); });
  });
}

StatusResponder::~StatusResponder() {
  CloseConnection();
  listening_.reset();
  if (listener_ >= 0)
    ::close(listener_);
}

void StatusResponder::Listen() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    ::close(fd);
    return;
  }
  listener_ = fd;
  port_ = ntohs(address.sin_port);
  listening_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
  QObject::connect(listening_.get(), &QSocketNotifier::activated, [this] { Accept(); });
}

void StatusResponder::Accept() {
  if (connection_ >= 0)
    return; // the next one waits in the queue until this one ends
  connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (connection_ < 0)
    return;
  tcpPending_.clear();
  listening_->setEnabled(false);
  reading_ = std::make_unique<QSocketNotifier>(connection_, QSocketNotifier::Read);
  QObject::connect(reading_.get(), &QSocketNotifier::activated, [this] { ReadConnection(); });
}

void StatusResponder::ReadConnection() {
  char buffer[4096];
  bool ended = false;
  for (;;) {
    const ssize_t n = ::recv(connection_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      break;
    if (n <= 0) {
      ended = true; // the client closed its side
      break;
    }
    const QByteArray piece(buffer, n);
    received_ += piece;
    // A late answer goes to the connection that asked, or nowhere.
    Take(piece, tcpPending_, [this, asked = connections_](const QByteArray &bytes) {
      if (connections_ == asked && connection_ >= 0)
        ::send(connection_, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
    });
  }
  if (ended)
    CloseConnection();
}

void StatusResponder::CloseConnection() {
  reading_.reset();
  if (connection_ < 0)
    return;
  ::close(connection_);
  connection_ = -1;
  ++connections_;
  if (listening_) {
    listening_->setEnabled(true);
    Accept(); // one may be queued already
  }
}

void StatusResponder::Take(const QByteArray &piece, QByteArray &pending,
                           const std::function<void(QByteArray)> &reply) {
  pending += piece;
  qsizetype i = 0;
  while (i < pending.size()) {
    if (pending[i] != char(0x10)) {
      ++i;
      continue;
    }
    if (pending.size() - i < 3)
      break; // the rest of the request comes with the next piece
    const int n = pending[i + 1] == char(0x04) ? int(pending[i + 2]) : 0;
    if (n < 1 || n > 4) {
      ++i;
      continue;
    }
    if (!silent_ && delayMs_ > 0)
      QTimer::singleShot(delayMs_,
                         [reply, answer = unasked_ + char(answers_[n - 1])] { reply(answer); });
    else if (!silent_)
      reply(unasked_ + char(answers_[n - 1]));
    i += 3;
  }
  pending.remove(0, i);
}

} // namespace pellicar::test
