#include "channels/client_win_socket.h"

#include "channels/socket_error.h"

namespace pellicar {

void TClientWinSocket::OpenConnection(const QString &host, const QString &address,
                                      const QString &service, quint16 port) {
  if (clientType_ == TClientType::ctBlocking)
    throw ESocketError(QStringLiteral("Blocking client sockets are not supported"));
  TCustomWinSocket::OpenConnection(host, address, service, port);
}

} // namespace pellicar
