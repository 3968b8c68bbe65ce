#include "cli/cli_errors.h"

namespace pellicar {

EUsageError::EUsageError(const QString &message, const QString &command)
    : Exception(message), command_(command) {}

QString WithFullStop(const QString &message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.'))
    return message + QLatin1Char('.');
  return message;
}

} // namespace pellicar
