#include "channels/socket_error.h"

#include "platform/system_error.h"

namespace pellicar {

ESocketError::ESocketError(QString message) : Exception(std::move(message)) {}

ESocketError ESocketError::ApiError(int code, const QString &api) {
  return ESocketError(
      QStringLiteral("Windows socket error: %1, on API '%2'").arg(SystemErrorDetail(code), api));
}

ESocketError ESocketError::AsyncError(int code) {
  return ESocketError(QStringLiteral("Asynchronous socket error %1").arg(code));
}

} // namespace pellicar
