// The serial device on Linux: a tty opened non-blocking, settings through
// the termios2 calls (which take any speed), waits through poll() on the
// port together with eventfd handles.

#include "platform/serial_device.h"

#include <QFile>

// <asm/termbits.h> instead of <termios.h>: only the kernel's own structure
// carries arbitrary speeds (BOTHER), and the two headers cannot be mixed.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace pellicar {

struct TSerialSignal::Impl {
  int fd = -1;
  bool manualReset = true;
  // Released by Set, acquired by whoever sees the signal set: what the
  // setter did before is then visible to the waiter in the language's
  // terms, not only through the kernel (and so to ThreadSanitizer too).
  std::atomic<quint64> sets{0};
};

struct TSerialSignalAccess {
  static int Fd(const TSerialSignal &signal) { return signal.impl_->fd; }
  static bool ManualReset(const TSerialSignal &signal) { return signal.impl_->manualReset; }
  static void Seen(const TSerialSignal &signal) {
    (void)signal.impl_->sets.load(std::memory_order_acquire);
  }
};

namespace {

using Clock = std::chrono::steady_clock;

// How often the modem lines are looked at while carrier-detect or ring
// changes are watched: the kernel offers no way to wait for them together
// with input and a stop signal (TIOCMIWAIT blocks alone, and only a signal
// would end it).
constexpr int kLineCheckMs = 100;

constexpr quint32 kNoInterval = 0xFFFFFFFF;

// The one place where the system's error numbers become our outcomes.
TIoStatus StatusFromErrno(int error) {
  return error == EBADF ? TIoStatus::Closed : TIoStatus::Failed;
}

int SignalFd(const TSerialSignal &signal) { return TSerialSignalAccess::Fd(signal); }

// poll() found the signal set.
bool Seen(const TSerialSignal &signal, const pollfd &fd) {
  if (fd.revents == 0)
    return false;
  TSerialSignalAccess::Seen(signal);
  return true;
}

void Consume(int fd) {
  std::uint64_t value = 0;
  while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

int Poll(pollfd *fds, nfds_t count, int timeoutMs) {
  for (;;) {
    const int result = ::poll(fds, count, timeoutMs);
    if (result >= 0 || errno != EINTR)
      return result;
  }
}

// Milliseconds left until `deadline` for poll(): -1 without a deadline.
int Remaining(bool hasDeadline, Clock::time_point deadline) {
  if (!hasDeadline)
    return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return int(std::clamp<long long>(left, 0, 1 << 30));
}

int MinTimeout(int a, int b) {
  if (a < 0)
    return b;
  if (b < 0)
    return a;
  return std::min(a, b);
}

class PosixSerialDevice final : public TSerialDevice {
public:
  explicit PosixSerialDevice(int fd) : fd_(fd) {}

  ~PosixSerialDevice() override {
    // The exclusive flag stays on the tty until its last close; others
    // may still hold it open.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }

  bool SetupQueues(quint32, quint32) override { return true; }

  bool Purge(quint32 flags) override {
    const bool tx = flags & (comm_purge::kTxAbort | comm_purge::kTxClear);
    const bool rx = flags & (comm_purge::kRxAbort | comm_purge::kRxClear);
    if (!tx && !rx)
      return true;
    const int queue = tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH);
    return ::ioctl(fd_, TCFLSH, queue) == 0;
  }

  bool GetState(TCommState &state) override {
    termios2 t{};
    if (::ioctl(fd_, TCGETS2, &t) != 0)
      return false;
    const TCommState kept = Kept();
    state = kept;
    state.BaudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5:
      state.ByteSize = 5;
      break;
    case CS6:
      state.ByteSize = 6;
      break;
    case CS7:
      state.ByteSize = 7;
      break;
    default:
      state.ByteSize = 8;
    }
    if (!(t.c_cflag & PARENB))
      state.Parity = 0;
    else if (t.c_cflag & CMSPAR)
      state.Parity = (t.c_cflag & PARODD) ? 3 : 4;
    else
      state.Parity = (t.c_cflag & PARODD) ? 1 : 2;
    if (!(t.c_cflag & CSTOPB))
      state.StopBits = 0;
    else if (kept.StopBits == 0)
      state.StopBits = 2;
    quint32 flags = kept.Flags & ~(comm_flag::kParity | comm_flag::kOutxCtsFlow | comm_flag::kOutX |
                                   comm_flag::kInX);
    flags |= comm_flag::kBinary;
    if (t.c_iflag & INPCK)
      flags |= comm_flag::kParity;
    if (t.c_cflag & CRTSCTS)
      flags |= comm_flag::kOutxCtsFlow;
    if (t.c_iflag & IXON)
      flags |= comm_flag::kOutX;
    if (t.c_iflag & IXOFF)
      flags |= comm_flag::kInX;
    state.Flags = flags;
    state.XonChar = char(t.c_cc[VSTART]);
    state.XoffChar = char(t.c_cc[VSTOP]);
    state.EofChar = char(t.c_cc[VEOF]);
    return true;
  }

  bool SetState(const TCommState &state) override {
    if (state.BaudRate == 0 || state.ByteSize < 5 || state.ByteSize > 8 || state.Parity > 4 ||
        state.StopBits > 2)
      return false;
    termios2 t{};
    if (::ioctl(fd_, TCGETS2, &t) != 0)
      return false;

    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                           ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL);
    if (state.Flags & comm_flag::kParity)
      t.c_iflag |= INPCK;
    if (state.Flags & comm_flag::kOutX)
      t.c_iflag |= IXON;
    if (state.Flags & comm_flag::kInX)
      t.c_iflag |= IXOFF;
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);

    t.c_cflag &= ~tcflag_t(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= BOTHER | CREAD | CLOCAL;
    t.c_ispeed = state.BaudRate;
    t.c_ospeed = state.BaudRate;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[state.ByteSize - 5];
    if (state.Parity != 0)
      t.c_cflag |= PARENB;
    if (state.Parity == 1 || state.Parity == 3)
      t.c_cflag |= PARODD;
    if (state.Parity >= 3)
      t.c_cflag |= CMSPAR;
    if (state.StopBits != 0)
      t.c_cflag |= CSTOPB;
    if ((state.Flags & comm_flag::kOutxCtsFlow) ||
        (state.Flags & comm_flag::kRtsMask) == comm_flag::kRtsHandshake)
      t.c_cflag |= CRTSCTS;

    t.c_cc[VSTART] = cc_t(state.XonChar);
    t.c_cc[VSTOP] = cc_t(state.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::ioctl(fd_, TCSETS2, &t) != 0)
      return false;

    // Modem lines: a pseudo terminal has none and answers ENOTTY.
    SetModemLine(TIOCM_DTR, state.Flags & comm_flag::kDtrMask, comm_flag::kDtrEnable);
    SetModemLine(TIOCM_RTS, state.Flags & comm_flag::kRtsMask, comm_flag::kRtsEnable);
    std::lock_guard<std::mutex> lock(settingsLock_);
    kept_ = state;
    return true;
  }

  bool SetTimeouts(const TCommTimeouts &timeouts) override {
    std::lock_guard<std::mutex> lock(settingsLock_);
    timeouts_ = timeouts;
    return true;
  }

  quint32 PendingOutput() override {
    int pending = 0;
    if (::ioctl(fd_, TIOCOUTQ, &pending) != 0 || pending < 0)
      return 0;
    return quint32(pending);
  }

  bool SetEventMask(quint32 mask) override {
    mask_ = mask;
    watchErrors_ = watchModem_ = false;
    if (mask == 0)
      return true;
    if (::ioctl(fd_, TIOCGICOUNT, &counts_) != 0) {
      // No error counters and no modem lines (a pseudo terminal, most
      // USB adapters without them): nothing to watch.
      return errno == ENOTTY || errno == EINVAL;
    }
    watchErrors_ = mask & comm_event::kErr;
    watchModem_ = mask & (comm_event::kRlsd | comm_event::kRing);
    return true;
  }

  // A line error comes with a received byte (a framing or parity error, a
  // break, an overrun), so the error counters are looked at whenever input
  // wakes the thread and after each read; only the modem lines need a look
  // every kLineCheckMs, and only while they are watched. Otherwise the
  // thread sleeps until input comes or the stop signal is set.
  TInputWait WaitInput(const TSerialSignal &stop, quint32 &events) override {
    events = 0;
    bool input = false;
    for (;;) {
      if (watchErrors_ || watchModem_) {
        const TIoStatus lines = CheckLines(events);
        if (lines == TIoStatus::Closed)
          return TInputWait::Closed;
        if (lines != TIoStatus::Ok)
          return TInputWait::Failed;
        if (events != 0)
          return TInputWait::LineEvent;
      }
      if (input)
        return TInputWait::Input;
      pollfd fds[2] = {{SignalFd(stop), POLLIN, 0}, {fd_, POLLIN, 0}};
      const int result = Poll(fds, 2, watchModem_ ? kLineCheckMs : -1);
      if (result < 0)
        return TInputWait::Failed;
      if (Seen(stop, fds[0]))
        return TInputWait::Stop;
      if (fds[1].revents & POLLNVAL)
        return TInputWait::Closed;
      // Input, or the other side gone: the read that follows tells which.
      input = fds[1].revents & (POLLIN | POLLHUP | POLLERR);
    }
  }

  TIoStatus Read(char *buffer, std::size_t size, std::size_t &count,
                 const TSerialSignal &stop) override {
    count = 0;
    const TCommTimeouts timeouts = Timeouts();
    const quint32 interval = timeouts.ReadIntervalTimeout;
    const quint64 total =
        quint64(timeouts.ReadTotalTimeoutMultiplier) * size + timeouts.ReadTotalTimeoutConstant;
    const bool hasDeadline = total != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);
    for (;;) {
      const ssize_t n = ::read(fd_, buffer + count, size - count);
      if (n > 0) {
        count += std::size_t(n);
        if (count == size || interval == kNoInterval)
          return TIoStatus::Ok;
      } else if (n == 0) {
        // End of file on a tty: the other side hung up.
        return count > 0 ? TIoStatus::Ok : TIoStatus::Failed;
      } else if (errno == EINTR) {
        continue;
      } else if (errno != EAGAIN) {
        return count > 0 ? TIoStatus::Ok : StatusFromErrno(errno);
      }
      const int quiet =
          (count > 0 && interval != 0) ? int(std::min<quint32>(interval, 1u << 30)) : -1;
      const int timeout = MinTimeout(quiet, Remaining(hasDeadline, deadline));
      pollfd fds[2] = {{SignalFd(stop), POLLIN, 0}, {fd_, POLLIN, 0}};
      const int result = Poll(fds, 2, timeout);
      if (result < 0)
        return count > 0 ? TIoStatus::Ok : TIoStatus::Failed;
      if (Seen(stop, fds[0]))
        return TIoStatus::Stopped;
      if (fds[1].revents & POLLNVAL)
        return TIoStatus::Closed;
      if (result == 0)
        return count > 0 ? TIoStatus::Ok : TIoStatus::TimedOut;
      // An error or hang-up with nothing to read would wake every poll at
      // once from here on.
      if ((fds[1].revents & (POLLERR | POLLHUP)) && !(fds[1].revents & POLLIN))
        return count > 0 ? TIoStatus::Ok : TIoStatus::Failed;
    }
  }

  TIoStatus ClearError(quint32 &errors) override {
    errors = errors_;
    errors_ = 0;
    return TIoStatus::Ok;
  }

  TIoStatus Write(const char *data, std::size_t size, std::size_t &written,
                  const TSerialSignal &stop) override {
    written = 0;
    const TCommTimeouts timeouts = Timeouts();
    const quint64 total =
        quint64(timeouts.WriteTotalTimeoutMultiplier) * size + timeouts.WriteTotalTimeoutConstant;
    const bool hasDeadline = total != 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);
    for (;;) {
      const ssize_t n = ::write(fd_, data, size);
      if (n > 0) {
        written = std::size_t(n);
        return TIoStatus::Ok;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && errno != EAGAIN)
        return StatusFromErrno(errno);
      pollfd fds[2] = {{SignalFd(stop), POLLIN, 0}, {fd_, POLLOUT, 0}};
      const int result = Poll(fds, 2, Remaining(hasDeadline, deadline));
      if (result < 0)
        return TIoStatus::Failed;
      if (Seen(stop, fds[0]))
        return TIoStatus::Stopped;
      if (fds[1].revents & POLLNVAL)
        return TIoStatus::Closed;
      if (result == 0)
        return TIoStatus::TimedOut;
      if ((fds[1].revents & (POLLERR | POLLHUP)) && !(fds[1].revents & POLLOUT))
        return TIoStatus::Failed;
    }
  }

  TIoStatus WaitUntilSent(const TSerialSignal &stop) override {
    for (;;) {
      const quint32 pending = PendingOutput();
      if (pending == 0)
        return TIoStatus::Ok;
      // Sleep about as long as the driver needs for what it holds, then
      // look again.
      const quint64 bits = quint64(pending) * 11 * 1000;
      const int wait = int(std::clamp<quint64>(bits / std::max<quint32>(Speed(), 1), 1, 100));
      pollfd fd{SignalFd(stop), POLLIN, 0};
      const int result = Poll(&fd, 1, wait);
      if (result < 0)
        return TIoStatus::Failed;
      if (Seen(stop, fd))
        return TIoStatus::Stopped;
    }
  }

private:
  // The settings are set on the main thread while the threads use them.
  TCommTimeouts Timeouts() const {
    std::lock_guard<std::mutex> lock(settingsLock_);
    return timeouts_;
  }
  TCommState Kept() const {
    std::lock_guard<std::mutex> lock(settingsLock_);
    return kept_;
  }
  quint32 Speed() const { return Kept().BaudRate; }

  void SetModemLine(int line, quint32 mode, quint32 enable) {
    if (mode == 0)
      ::ioctl(fd_, TIOCMBIC, &line);
    else if (mode == enable)
      ::ioctl(fd_, TIOCMBIS, &line);
  }

  // Compares the driver's counters with the last look. The read thread
  // alone calls it.
  TIoStatus CheckLines(quint32 &events) {
    serial_icounter_struct now{};
    if (::ioctl(fd_, TIOCGICOUNT, &now) != 0)
      return StatusFromErrno(errno);
    quint32 errors = 0;
    if (now.buf_overrun != counts_.buf_overrun)
      errors |= comm_error::kRxOver;
    if (now.overrun != counts_.overrun)
      errors |= comm_error::kOverrun;
    if (now.parity != counts_.parity)
      errors |= comm_error::kRxParity;
    if (now.frame != counts_.frame)
      errors |= comm_error::kFrame;
    if (now.brk != counts_.brk)
      errors |= comm_error::kBreak;
    if (errors != 0 && (mask_ & comm_event::kErr)) {
      errors_ |= errors;
      events |= comm_event::kErr;
    }
    if (now.dcd != counts_.dcd && (mask_ & comm_event::kRlsd))
      events |= comm_event::kRlsd;
    if (now.rng != counts_.rng && (mask_ & comm_event::kRing))
      events |= comm_event::kRing;
    counts_ = now;
    return TIoStatus::Ok;
  }

  const int fd_;
  mutable std::mutex settingsLock_;
  TCommState kept_;        // the last record applied
  TCommTimeouts timeouts_; // under settingsLock_, as kept_
  // The read thread's own: the watched events and the counters last seen.
  quint32 mask_ = 0;
  bool watchErrors_ = false;
  bool watchModem_ = false;
  serial_icounter_struct counts_{};
  quint32 errors_ = 0;
};

} // namespace

std::unique_ptr<TSerialSignal> TSerialSignal::Create(bool manualReset) {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0)
    return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->fd = fd;
  impl->manualReset = manualReset;
  return std::unique_ptr<TSerialSignal>(new TSerialSignal(std::move(impl)));
}

TSerialSignal::TSerialSignal(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TSerialSignal::~TSerialSignal() { ::close(impl_->fd); }

void TSerialSignal::Set() {
  impl_->sets.fetch_add(1, std::memory_order_release);
  const std::uint64_t one = 1;
  while (::write(impl_->fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TSerialSignal::Reset() { Consume(impl_->fd); }

bool TSerialSignal::IsSet() const {
  pollfd fd{impl_->fd, POLLIN, 0};
  return Poll(&fd, 1, 0) > 0 && Seen(*this, fd);
}

int WaitForSignals(std::initializer_list<const TSerialSignal *> handles, int timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(handles.size());
  for (const TSerialSignal *signal : handles)
    fds.push_back({SignalFd(*signal), POLLIN, 0});
  const int result = Poll(fds.data(), nfds_t(fds.size()), timeoutMs);
  if (result < 0)
    return kWaitFailed;
  if (result == 0)
    return kWaitTimeout;
  int index = 0;
  for (const TSerialSignal *signal : handles) {
    if (Seen(*signal, fds[std::size_t(index)])) {
      if (!TSerialSignalAccess::ManualReset(*signal))
        Consume(fds[std::size_t(index)].fd);
      return index;
    }
    ++index;
  }
  return kWaitFailed;
}

std::unique_ptr<TSerialDevice> OpenSerialDevice(const QString &name, TSerialOpenError &error) {
  error = TSerialOpenError::None;
  // Non-blocking, so that neither a missing carrier nor a full queue ever
  // holds up the caller; no controlling terminal.
  const int fd =
      ::open(QFile::encodeName(name).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = TSerialOpenError::CannotOpen;
    return nullptr;
  }
  struct stat info {};
  termios2 probe{};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode) || ::ioctl(fd, TCGETS2, &probe) != 0) {
    ::close(fd);
    error = TSerialOpenError::NotComm;
    return nullptr;
  }
  // TIOCEXCL keeps other users out but not root; a lock on the open file
  // keeps out every other opener that asks for it, root included.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    error = TSerialOpenError::CannotOpen;
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);
  return std::make_unique<PosixSerialDevice>(fd);
}

} // namespace pellicar
