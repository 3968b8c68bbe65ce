// POSIX (Linux) implementation of the TCP socket seam.
//
// Readiness comes from an edge-triggered epoll set holding the one socket,
// watched by a QSocketNotifier: the epoll descriptor is readable only while
// it holds new edges, so unread data from the peer costs nothing once it has
// been reported, and EPOLLRDHUP tells of the peer's close without our
// reading what it sent.

#include "platform/tcp_socket.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellicar {

namespace {

constexpr uint32_t kWatched = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

int pendingError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
    return errno;
  return error;
}

int closeDescriptor(int fd) {
  if (fd < 0)
    return 0;
  // On Linux the descriptor is gone even when close reports EINTR; retrying
  // could close a descriptor that another part of the program just opened.
  if (::close(fd) != 0 && errno != EINTR)
    return errno;
  return 0;
}

// Sends without raising SIGPIPE on a broken connection.
ssize_t sendSome(int fd, const char *data, qint64 size) {
  ssize_t n;
  do {
    n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n;
}

// Reads and discards what has arrived, and tells whether more may come.
TcpInput drain(int fd) {
  char sink[16384];
  // A bounded amount per call: a peer that keeps talking gets its next
  // edge, and the caller's time bound ends it anyway.
  for (int i = 0; i < 64; ++i) {
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    if (n > 0)
      continue;
    if (n == 0)
      return TcpInput::Ended;
    if (errno == EINTR)
      continue;
    return wouldBlock(errno) ? TcpInput::Open : TcpInput::Broken;
  }
  return TcpInput::Open;
}

class PosixTcpSocket final : public TcpSocket {
public:
  PosixTcpSocket(int fd, int epoll, Notify notify)
      : fd_(fd), epoll_(epoll), notify_(std::move(notify)),
        notifier_(std::make_unique<QSocketNotifier>(epoll, QSocketNotifier::Read)) {
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnReady(); });
  }

  ~PosixTcpSocket() override { Close(); }

  void SetNotify(Notify notify) override { notify_ = std::move(notify); }

  int Connect(quint32 address, quint16 port) override {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);
    if (::connect(fd_, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0 &&
        errno != EINPROGRESS)
      return errno;
    // Registered only now: an unconnected socket polls as hung up.
    epoll_event watch{};
    watch.events = kWatched;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &watch) != 0)
      return errno;
    connecting_ = true;
    return 0;
  }

  qint64 Send(const char *data, qint64 size, int &error) override {
    error = 0;
    if (size <= 0)
      return 0;
    const ssize_t n = sendSome(fd_, data, size);
    if (n >= 0)
      return n;
    if (wouldBlock(errno)) {
      wantWrite_ = true;
      return 0;
    }
    error = errno;
    return -1;
  }

  qint64 Unacknowledged(int &error) override {
    error = 0;
    int unacknowledged = 0;
    if (::ioctl(fd_, SIOCOUTQ, &unacknowledged) != 0) {
      error = errno;
      return -1;
    }
    // A reset leaves the count of the bytes it cut off in place (the
    // acknowledged mark stops where the peer's last acknowledgement put
    // it), and a socket that never connected counts none: only a
    // connection that stands (or that the peer closed on its side) can
    // still deliver.
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
      error = errno;
    else if (info.tcpi_state != TCP_ESTABLISHED && info.tcpi_state != TCP_CLOSE_WAIT)
      error = ENOTCONN;
    return unacknowledged;
  }

  void ShutdownSend() override {
    if (fd_ >= 0)
      ::shutdown(fd_, SHUT_WR);
  }

  TcpInput DiscardInput() override {
    if (fd_ < 0)
      return TcpInput::Broken;
    const TcpInput input = drain(fd_);
    if (input == TcpInput::Broken)
      broken_ = true;
    // A reset whose error was taken by OnReady reads as an end of stream.
    return input == TcpInput::Ended && broken_ ? TcpInput::Broken : input;
  }

  qint64 Receive(char *buffer, qint64 size, TcpInput &input, int &error) override {
    error = 0;
    input = TcpInput::Broken;
    if (fd_ < 0)
      return 0;
    ssize_t n;
    do {
      n = ::recv(fd_, buffer, size_t(size), 0);
    } while (n < 0 && errno == EINTR);
    // Whatever arrives from now on counts as new, even what is left
    // unread: a byte landing between this read and a look at the count
    // would otherwise never be reported.
    unreadSeen_ = 0;
    if (n > 0) {
      input = TcpInput::Open;
      return n;
    }
    if (n == 0) {
      input = broken_ ? TcpInput::Broken : TcpInput::Ended;
      return 0;
    }
    if (wouldBlock(errno)) {
      input = TcpInput::Open;
      return 0;
    }
    error = errno;
    broken_ = true;
    return 0;
  }

  int Close() override {
    notifier_.reset();
    const int error = closeDescriptor(fd_);
    closeDescriptor(epoll_);
    fd_ = epoll_ = -1;
    return error;
  }

  void Reset() override {
    if (fd_ >= 0) {
      const linger now{1, 0};
      ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    Close();
  }

private:
  void OnReady() {
    epoll_event events[1];
    if (::epoll_wait(epoll_, events, 1, 0) != 1)
      return;
    const uint32_t mask = events[0].events;
    if (connecting_) {
      connecting_ = false;
      const int error = pendingError(fd_);
      notify_(TcpEvent::Connected, error);
      if (error != 0) {
        // A failed attempt reports nothing more.
        notifier_->setEnabled(false);
        return;
      }
      wantWrite_ = true;
    }
    if ((mask & EPOLLOUT) && wantWrite_) {
      wantWrite_ = false;
      notify_(TcpEvent::Writable, 0);
    }
    if (closeReported_)
      return;
    // Every edge shows the input flag while unread data sits there; only a
    // growing amount means something new arrived.
    if (mask & EPOLLIN) {
      int unread = 0;
      if (::ioctl(fd_, FIONREAD, &unread) == 0) {
        // Noted before the news goes out: the receiver may read (Receive)
        // and so reset the mark.
        const bool grew = unread > unreadSeen_;
        unreadSeen_ = unread;
        if (grew)
          notify_(TcpEvent::Readable, 0);
      }
    }
    if (mask & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
      closeReported_ = true;
      // Taking the error clears it: it is remembered for DiscardInput.
      const int error = (mask & EPOLLERR) ? pendingError(fd_) : 0;
      broken_ = broken_ || error != 0;
      notify_(TcpEvent::PeerClosed, error);
    }
  }

  int fd_;
  int epoll_;
  Notify notify_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool connecting_ = false;
  bool wantWrite_ = false;
  bool closeReported_ = false;
  bool broken_ = false; // the connection broke (a reset, a network failure)
  int unreadSeen_ = 0;
};

} // namespace

std::unique_ptr<TcpSocket> CreateTcpSocket(TcpSocket::Notify notify, int &error) {
  error = 0;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll < 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixTcpSocket>(fd, epoll, std::move(notify));
}

} // namespace pellicar
