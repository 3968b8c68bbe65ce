#include "cli/terminal.h"

#include <cerrno>
#include <unistd.h>

namespace pellicar {

namespace {

int Descriptor(StandardStream stream) {
  return stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

} // namespace

bool IsTerminal(StandardStream stream) { return isatty(Descriptor(stream)) == 1; }

bool WriteStandard(StandardStream stream, const QByteArray &bytes) {
  // Straight to the descriptor: there is no buffer of ours to flush, and a
  // short write (a pipe) is continued.
  const char *data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(Descriptor(stream), data, size_t(left));
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data += written;
    left -= written;
  }
  return true;
}

} // namespace pellicar
