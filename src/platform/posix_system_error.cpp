#include "platform/system_error.h"

#include <netdb.h>
#include <string.h>

namespace pellicar {

QString SystemErrorText(int code) {
  if (code < 0)
    return QString::fromLocal8Bit(::gai_strerror(code));
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in `buffer`.
  return QString::fromLocal8Bit(::strerror_r(code, buffer, sizeof buffer));
}

QString SystemErrorDetail(int code) {
  return QStringLiteral("%1 (%2)").arg(SystemErrorText(code)).arg(code);
}

} // namespace pellicar
