#include "printer/pseudo_terminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace pellicar {

bool PseudoTerminal::Open(QString *error) {
  Close();
  char path[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (::openpty(&master_, &slave_, path, &raw, nullptr) != 0) {
    *error = QStringLiteral("cannot open a pseudo terminal: %1")
                 .arg(QString::fromLocal8Bit(strerror(errno)));
    master_ = slave_ = -1;
    return false;
  }
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slavePath_ = QString::fromLocal8Bit(path);
  return true;
}

int PseudoTerminal::TakeMaster() { return std::exchange(master_, -1); }

void PseudoTerminal::Close() {
  if (master_ >= 0)
    ::close(std::exchange(master_, -1));
  if (slave_ >= 0)
    ::close(std::exchange(slave_, -1));
}

} // namespace pellicar
