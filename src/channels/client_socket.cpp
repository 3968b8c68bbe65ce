#include "channels/client_socket.h"

#include "channels/closing_connection.h"
#include "channels/socket_error.h"

namespace pellicar {

TClientSocket::TClientSocket(QObject *owner, std::shared_ptr<HostResolver> resolver)
    : QObject(owner), socket_(std::make_unique<TClientWinSocket>(std::move(resolver))) {
  socket_->SetEvents(this);
}

TClientSocket::~TClientSocket() {
  socket_->SetEvents(nullptr);
  socket_.reset();
}

void TClientSocket::SetActive(bool value) {
  if (value) {
    if (!Active())
      socket_->OpenConnection(host_, address_, service_, quint16(port_));
  } else {
    socket_->CloseConnection();
  }
}

void TClientSocket::CheckInactive() const {
  if (Active())
    throw ESocketError(QStringLiteral("Can't change value while socket is active"));
}

void TClientSocket::SetAddress(const QString &value) {
  if (value.compare(address_, Qt::CaseInsensitive) == 0)
    return;
  CheckInactive();
  address_ = value;
}

void TClientSocket::SetClientType(TClientType value) {
  if (value == socket_->ClientType())
    return;
  CheckInactive();
  socket_->SetClientType(value);
}

void TClientSocket::SetHost(const QString &value) {
  if (value.compare(host_, Qt::CaseInsensitive) == 0)
    return;
  CheckInactive();
  host_ = value;
}

void TClientSocket::SetPort(int value) {
  if (value == port_)
    return;
  CheckInactive();
  port_ = value;
}

void TClientSocket::SetService(const QString &value) {
  if (value.compare(service_, Qt::CaseInsensitive) == 0)
    return;
  CheckInactive();
  service_ = value;
}

void TClientSocket::SetExceptionHandler(TExceptionHandler handler) {
  socket_->SetExceptionHandler(std::move(handler));
}

int TClientSocket::ClosingConnections() { return TClosingConnection::Pending(); }

qint64 TClientSocket::FinishClosingConnections() { return TClosingConnection::FinishAll(); }

} // namespace pellicar
