// POSIX (Linux) implementation of the stream link seam: one non-blocking
// descriptor, every wait a poll() bounded by the caller's deadline.

#include "platform/stream_link.h"

#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <linux/sockios.h>

#include <algorithm>

namespace pellicar {

namespace {

// Bytes still queued below us (a socket's unacknowledged bytes, a
// terminal's output queue) give no event when they leave; while draining,
// they are looked at this often.
constexpr int kDrainCheckMs = 10;

// The orderly end of a TCP connection waits this long for the printer to
// close its side. A printer that keeps it open is not waited for longer:
// everything we sent was acknowledged before.
constexpr int kOrderlyCloseMs = 1000;

// Input thrown away at most per DiscardInput, so that a device that talks
// without end cannot hold the caller.
constexpr int kDiscardReads = 64;

int PollTimeout(const QDeadlineTimer &deadline) {
  if (deadline.isForever())
    return -1;
  return int(std::clamp<qint64>(deadline.remainingTime(), 0, 1 << 30));
}

// Waits for `events` on `fd`; returns the events seen (0: the deadline
// passed), or -1 with errno.
int WaitFor(int fd, short events, const QDeadlineTimer &deadline) {
  for (;;) {
    pollfd watched{fd, events, 0};
    const int result = ::poll(&watched, 1, PollTimeout(deadline));
    if (result > 0)
      return watched.revents;
    if (result == 0)
      return 0;
    if (errno != EINTR)
      return -1;
  }
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

enum class Kind { Socket, Terminal, Device };

class PosixStreamLink final : public StreamLink {
public:
  PosixStreamLink(int fd, Kind kind) : fd_(fd), kind_(kind) {}

  ~PosixStreamLink() override {
    if (kind_ == Kind::Socket) {
      // Our end first, then what the printer still says is read away:
      // closing with unread input would reset the connection instead of
      // ending it.
      ::shutdown(fd_, SHUT_WR);
      const QDeadlineTimer bound(kOrderlyCloseMs);
      char sink[4096];
      for (;;) {
        const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
          continue;
        if (n == 0 || !WouldBlock(errno) || WaitFor(fd_, POLLIN, bound) <= 0)
          break;
      }
    }
    // Closing a terminal waits, up to the driver's closing time (30 s on a
    // serial port), for output held back by flow control. Output no drain
    // saw leave is thrown away instead: the caller either had it answered
    // (a request) or reports it as not sent.
    if (kind_ == Kind::Terminal && !drained_)
      ::tcflush(fd_, TCOFLUSH);
    ::close(fd_);
  }

  LinkStatus Write(const char *data, qint64 size, qint64 &written, const QDeadlineTimer &deadline,
                   int &error) override {
    written = 0;
    error = 0;
    for (;;) {
      const ssize_t n = kind_ == Kind::Socket ? ::send(fd_, data, size_t(size), MSG_NOSIGNAL)
                                              : ::write(fd_, data, size_t(size));
      if (n > 0) {
        written = n;
        drained_ = false;
        return LinkStatus::Ok;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && !WouldBlock(errno))
        return Failure(errno, error);
      const int seen = WaitFor(fd_, POLLOUT, deadline);
      if (seen < 0)
        return Failure(errno, error);
      if (seen == 0)
        return LinkStatus::TimedOut;
      if ((seen & (POLLHUP | POLLERR | POLLNVAL)) && !(seen & POLLOUT))
        return Failure(PendingError(), error);
    }
  }

  LinkStatus Read(char *buffer, qint64 size, qint64 &count, const QDeadlineTimer &deadline,
                  int &error) override {
    count = 0;
    error = 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size_t(size));
      if (n > 0) {
        count = n;
        return LinkStatus::Ok;
      }
      if (n == 0)
        return LinkStatus::Closed;
      if (errno == EINTR)
        continue;
      if (!WouldBlock(errno))
        return Failure(errno, error);
      const int seen = WaitFor(fd_, POLLIN, deadline);
      if (seen < 0)
        return Failure(errno, error);
      if (seen == 0)
        return LinkStatus::TimedOut;
      // Input or a hang-up: the next read tells which.
    }
  }

  LinkStatus Drain(const QDeadlineTimer &deadline, int &error) override {
    error = 0;
    if (kind_ == Kind::Device) {
      // A printer device is writable again once its last write is done.
      const int seen = WaitFor(fd_, POLLOUT, deadline);
      if (seen < 0)
        return Failure(errno, error);
      if (seen == 0)
        return LinkStatus::TimedOut;
      return LinkStatus::Ok;
    }
    for (;;) {
      int queued = 0;
      const unsigned long request = kind_ == Kind::Socket ? SIOCOUTQ : TIOCOUTQ;
      if (::ioctl(fd_, request, &queued) != 0)
        return Failure(errno, error);
      if (queued == 0) {
        drained_ = true;
        return LinkStatus::Ok;
      }
      if (deadline.hasExpired())
        return LinkStatus::TimedOut;
      // Only the other side's going away ends the wait early: what is
      // still queued then never leaves.
      const int seen =
          WaitFor(fd_, 0, QDeadlineTimer(std::min<qint64>(kDrainCheckMs, PollTimeout(deadline))));
      if (seen < 0)
        return Failure(errno, error);
      if (seen & (POLLERR | POLLHUP | POLLNVAL))
        return Failure(PendingError(), error);
    }
  }

  void DiscardInput() override {
    if (kind_ == Kind::Terminal) {
      ::tcflush(fd_, TCIFLUSH);
      return;
    }
    char sink[4096];
    for (int i = 0; i < kDiscardReads; ++i) {
      const ssize_t n = ::read(fd_, sink, sizeof sink);
      if (n <= 0 && !(n < 0 && errno == EINTR))
        return;
    }
  }

private:
  // A hang-up of a terminal shows as EIO; the end of a connection as a
  // reset or a broken pipe. Those are closes, not failures of ours.
  LinkStatus Failure(int code, int &error) const {
    error = code;
    if (code == EIO && kind_ == Kind::Terminal)
      return LinkStatus::Closed;
    return LinkStatus::Failed;
  }

  int PendingError() const {
    if (kind_ != Kind::Socket)
      return EIO;
    int code = 0;
    socklen_t length = sizeof code;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
      return errno;
    return code != 0 ? code : EPIPE;
  }

  int fd_;
  Kind kind_;
  bool drained_ = true; // nothing written since the last successful Drain
};

} // namespace

std::unique_ptr<StreamLink> ConnectTcpLink(quint32 address, quint16 port,
                                           const QDeadlineTimer &deadline, LinkStatus &status,
                                           int &error) {
  status = LinkStatus::Failed;
  error = 0;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(address);
  if (::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS) {
      error = errno;
      ::close(fd);
      return nullptr;
    }
    const int seen = WaitFor(fd, POLLOUT, deadline);
    socklen_t length = sizeof error;
    if (seen < 0) {
      error = errno;
    } else if (seen == 0) {
      status = LinkStatus::TimedOut;
    } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      error = errno;
    }
    if (seen <= 0 || error != 0) {
      ::close(fd);
      return nullptr;
    }
  }
  status = LinkStatus::Ok;
  return std::make_unique<PosixStreamLink>(fd, Kind::Socket);
}

std::unique_ptr<StreamLink> OpenDeviceLink(const QString &path, int &error) {
  error = 0;
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  const auto fail = [&](int code) -> std::unique_ptr<StreamLink> {
    error = code;
    ::close(fd);
    return nullptr;
  };
  struct stat info {};
  if (::fstat(fd, &info) != 0)
    return fail(errno);
  if (!S_ISCHR(info.st_mode))
    return fail(ENODEV);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    return fail(WouldBlock(errno) ? EBUSY : errno);
  if (!::isatty(fd))
    return std::make_unique<PosixStreamLink>(fd, Kind::Device);
  // A terminal in its usual mode would echo the printer's answers back to
  // it, hold them until a line ends, and take 0x11 and 0x13 for itself.
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0)
    return fail(errno);
  ::cfmakeraw(&settings);
  settings.c_iflag &= ~tcflag_t(IXOFF | IXANY);
  settings.c_cflag |= CLOCAL | CREAD;
  if (::tcsetattr(fd, TCSANOW, &settings) != 0)
    return fail(errno);
  return std::make_unique<PosixStreamLink>(fd, Kind::Terminal);
}

} // namespace pellicar
