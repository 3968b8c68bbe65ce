#pragma once

#include "channels/custom_win_socket.h"

namespace pellicar {

// How a client socket waits: only ctNonBlocking (every step finished by a
// notification from the event loop) is supported.
enum class TClientType { ctNonBlocking, ctBlocking };

// The socket object of a TClientSocket: a TCustomWinSocket that knows its
// client type.
class TClientWinSocket : public TCustomWinSocket {
  Q_OBJECT
public:
  using TCustomWinSocket::TCustomWinSocket;

  TClientType ClientType() const { return clientType_; }
  void SetClientType(TClientType type) { clientType_ = type; }

  // As TCustomWinSocket::OpenConnection; throws ESocketError for the
  // blocking client type, which is not supported.
  void OpenConnection(const QString &host, const QString &address, const QString &service,
                      quint16 port) override;

private:
  TClientType clientType_ = TClientType::ctNonBlocking;
};

} // namespace pellicar
