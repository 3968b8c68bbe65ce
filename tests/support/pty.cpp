#include "support/pty.h"

#include "support/wait.h"

#include <QSocketNotifier>

// The kernel's termios2 (arbitrary speeds); it cannot be mixed with
// <termios.h>, so the pair is made with posix_openpt.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace pellicar::test {

TPseudoTerminal::TPseudoTerminal() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char name[128] = {};
  if (master < 0)
    return;
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0) {
    ::close(master);
    return;
  }
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) {
    ::close(master);
    return;
  }
  master_ = master;
  slavePath_ = QString::fromLocal8Bit(name);
  notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Collect(); });
}

TPseudoTerminal::~TPseudoTerminal() {
  CloseMaster();
  if (slave_ >= 0)
    ::close(slave_);
}

void TPseudoTerminal::Collect() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0)
      received_.append(buffer, qsizetype(n));
    else if (n < 0 && errno == EINTR)
      continue;
    else
      return;
  }
}

bool TPseudoTerminal::WaitForReceived(qsizetype count, int timeoutMs) {
  return WaitUntil([&] { return received_.size() >= count; }, timeoutMs);
}

void TPseudoTerminal::SetReading(bool on) {
  if (notifier_)
    notifier_->setEnabled(on);
}

bool TPseudoTerminal::HoldOutput(bool on) {
  return ::ioctl(slave_, TCXONC, on ? TCOOFF : TCOON) == 0;
}

bool TPseudoTerminal::Send(const QByteArray &bytes, int timeoutMs) {
  qsizetype offset = 0;
  while (offset < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.constData() + offset, size_t(bytes.size() - offset));
    if (n > 0) {
      offset += n;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    pollfd fd{master_, POLLOUT, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0)
      return false;
  }
  return true;
}

void TPseudoTerminal::CloseMaster() {
  notifier_.reset();
  if (master_ >= 0)
    ::close(master_);
  master_ = -1;
}

TPseudoTerminal::LineSettings TPseudoTerminal::Settings() const {
  LineSettings s;
  termios2 t{};
  if (::ioctl(master_, TCGETS2, &t) != 0)
    return s;
  s.speed = t.c_ospeed;
  s.oddParity = t.c_cflag & PARODD;
  s.stickParity = t.c_cflag & CMSPAR;
  s.twoStopBits = t.c_cflag & CSTOPB;
  s.inputXonXoff = t.c_iflag & IXOFF;
  s.outputXonXoff = t.c_iflag & IXON;
  s.ctsFlow = t.c_cflag & CRTSCTS;
  s.parityCheck = t.c_iflag & INPCK;
  s.raw = !(t.c_lflag & (ICANON | ECHO | ISIG)) && !(t.c_oflag & OPOST);
  s.xonChar = char(t.c_cc[VSTART]);
  s.xoffChar = char(t.c_cc[VSTOP]);
  return s;
}

bool TPseudoTerminal::Tamper(quint32 speed, bool inputXonXoff) {
  termios2 t{};
  if (::ioctl(slave_, TCGETS2, &t) != 0)
    return false;
  t.c_cflag = (t.c_cflag & ~tcflag_t(CBAUD | CIBAUD)) | BOTHER;
  t.c_ispeed = t.c_ospeed = speed;
  if (inputXonXoff)
    t.c_iflag |= IXOFF;
  else
    t.c_iflag &= ~tcflag_t(IXOFF);
  return ::ioctl(slave_, TCSETS2, &t) == 0;
}

} // namespace pellicar::test
