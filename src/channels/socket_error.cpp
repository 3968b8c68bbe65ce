#include "channels/socket_error.h"

#include "platform/tcp_socket.h"

namespace pellicar {

ESocketError::ESocketError(QString message) : Exception(std::move(message)) {}

ESocketError ESocketError::ApiError(int code, const QString &api) {
  return ESocketError(QStringLiteral("Windows socket error: %1 (%2), on API '%3'")
                          .arg(SocketErrorText(code), QString::number(code), api));
}

ESocketError ESocketError::AsyncError(int code) {
  return ESocketError(QStringLiteral("Asynchronous socket error %1").arg(code));
}

} // namespace pellicar
