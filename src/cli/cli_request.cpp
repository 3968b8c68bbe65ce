#include "cli/cli_request.h"

namespace pellicar {

QString ChannelChoice::Describe() const {
  switch (kind) {
  case Kind::Tcp:
    return QStringLiteral("%1:%2").arg(target).arg(port);
  case Kind::Queue:
    return QStringLiteral("print queue '%1'").arg(target);
  case Kind::Output:
    return target == QLatin1String("-") ? QStringLiteral("standard output") : target;
  case Kind::Serial:
  case Kind::None:
    break;
  }
  return target;
}

} // namespace pellicar
