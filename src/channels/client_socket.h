#pragma once

#include "channels/client_win_socket.h"
#include "platform/host_resolver.h"

#include <QObject>
#include <QString>

#include <memory>

namespace pellicar {

// The TCP client component: a connection to a printer, configured by
// properties and followed through events (the TSocketEvents it inherits:
// assign OnConnect, OnError, ... directly). It owns one socket object,
// Socket(), which sends.
//
// Thread: the main thread, which runs the event loop; every event is raised
// there. Calls made on it throw ESocketError (or EAbort from a failed stream
// piece); what is raised while a notification from the event loop is
// handled goes to the exception handler (SetExceptionHandler).
class TClientSocket : public QObject, public TSocketEvents {
  Q_OBJECT
public:
  // `resolver` answers the host and service lookups (tests inject one).
  explicit TClientSocket(QObject *owner = nullptr,
                         std::shared_ptr<HostResolver> resolver = SystemHostResolver());
  // Closes the connection in order without raising OnDisconnect.
  ~TClientSocket() override;

  // True from OnConnect until the connection closes (OnDisconnect).
  // Setting True starts an attempt (abandoning one under way) and returns
  // at once: OnLookup is raised inside the call, the rest follows as
  // events. Setting False closes the connection or abandons the attempt
  // under way; either raises OnDisconnect. Setting the current value while
  // connected does nothing.
  bool Active() const { return socket_->Connected(); }
  void SetActive(bool value);

  // The values below can be changed only while not Active ("Can't change
  // value while socket is active"); setting the current value is always
  // allowed (for the texts regardless of letter case). They are taken when
  // an attempt starts.

  // Dotted IPv4 address, used only when Host is empty.
  QString Address() const { return address_; }
  void SetAddress(const QString &value);
  TClientType ClientType() const { return socket_->ClientType(); }
  void SetClientType(TClientType value);
  // Host name or dotted address, resolved asynchronously.
  QString Host() const { return host_; }
  void SetHost(const QString &value);
  // TCP port; only its low 16 bits are used.
  int Port() const { return port_; }
  void SetPort(int value);
  // Service name, resolved to the port when not empty.
  QString Service() const { return service_; }
  void SetService(const QString &value);

  TClientWinSocket &Socket() { return *socket_; }

  // Receives what is raised while notifications are handled; the window
  // passes it to the application's error handler. Default: EAbort is
  // swallowed, other errors are logged.
  void SetExceptionHandler(TExceptionHandler handler);

  // Connections of this thread still closing in order, including those of
  // components already destroyed.
  static int ClosingConnections();
  // Runs the event loop until every connection of this thread still
  // closing in order has ended (each close gives up once its printer makes
  // no progress for a few seconds), and returns how many accepted bytes
  // they did not deliver. For a program about to exit.
  static qint64 FinishClosingConnections();

private:
  void CheckInactive() const;

  QString address_;
  QString host_;
  int port_ = 0;
  QString service_;
  std::unique_ptr<TClientWinSocket> socket_;
};

} // namespace pellicar
