#pragma once

#include "channels/hidden_window.h"
#include "platform/host_resolver.h"
#include "platform/tcp_socket.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QString>

#include <deque>
#include <exception>
#include <functional>
#include <memory>

namespace pellicar {

// The kind of a socket error, in the order the owner's error handlers know.
enum class TErrorEvent {
  eeGeneral,
  eeSend,
  eeReceive,
  eeConnect,
  eeDisconnect,
  eeAccept,
  eeLookup
};

// Where an attempt to connect stands in its name lookups.
enum class TLookupState { lsIdle, lsLookupAddress, lsLookupService };

class TCustomWinSocket;

using TSocketNotifyEvent = std::function<void(TCustomWinSocket &socket)>;
// The handler may set `errorCode` to 0, which keeps the component from
// raising an exception of its own for the error.
using TSocketErrorEvent =
    std::function<void(TCustomWinSocket &socket, TErrorEvent errorEvent, int &errorCode)>;
// Receives what was raised while a notification from the event loop was
// handled (and so has no caller to go to). Must not throw.
using TExceptionHandler = std::function<void(std::exception_ptr error)>;

// The events a socket object raises, all on the main thread. Unassigned
// ones are skipped. A handler may use the socket freely (send, close, open
// again); it must not destroy the socket object or its component.
struct TSocketEvents {
  TSocketNotifyEvent OnLookup;     // an attempt begins (inside OpenConnection)
  TSocketNotifyEvent OnConnecting; // the connect call is about to be made
  TSocketNotifyEvent OnConnect;    // the connection stands (Connected() is true)
  TSocketNotifyEvent OnDisconnect; // the socket is about to be closed (Connected() is false)
  TSocketNotifyEvent OnRead;       // data from the peer arrived (nothing reads it)
  TSocketNotifyEvent OnWrite;      // the socket takes data and nothing is waiting to go
  TSocketErrorEvent OnError;       // a socket error; see TSocketErrorEvent
};

// A non-blocking client connection to a printer: looks the host up, connects,
// sends bytes and streams, and closes, without ever waiting for the network.
// The outcome of each step arrives as an event.
//
// Thread: the thread that created it (the main thread), which must run an
// event loop. Failures of the calls made on it are thrown as ESocketError;
// a failed stream piece throws EAbort. What goes wrong while a notification
// from the event loop is handled goes to the exception handler.
//
// Nothing that SendBytes, SendString or BeginStreamSend accepted is lost
// while the connection stands: what the socket does not take at once is
// kept and sent, in the order of the calls, as soon as it has room.
class TCustomWinSocket : public QObject {
  Q_OBJECT
public:
  explicit TCustomWinSocket(std::shared_ptr<HostResolver> resolver, QObject *parent = nullptr);
  // Closes the connection in order (without raising OnDisconnect) and
  // abandons an attempt under way.
  ~TCustomWinSocket() override;

  // The events to raise; nullptr raises none. Not owned.
  void SetEvents(const TSocketEvents *events) { events_ = events; }
  // Default: EAbort is swallowed, other errors are written to the log.
  void SetExceptionHandler(TExceptionHandler handler) { exceptionHandler_ = std::move(handler); }

  bool Connected() const { return connected_; }
  // A lookup or connect is under way.
  bool Connecting() const { return attempt_ != 0 && !connected_; }
  TLookupState LookupState() const { return lookupState_; }
  // Something accepted for sending has not been handed to the network yet.
  bool HasPendingOutput() const { return !queue_.empty(); }
  // A stream is being sent (BeginStreamSend would return false).
  bool StreamSending() const;

  // Starts connecting to `host` (resolved asynchronously) or, when it is
  // empty, to the dotted `address`, at the port of `service` or else `port`.
  // An attempt already under way is abandoned first. Raises OnLookup before
  // it returns; OnConnecting and OnConnect (or OnError) follow from the
  // event loop. Throws "Socket already open" while connected.
  virtual void OpenConnection(const QString &host, const QString &address, const QString &service,
                              quint16 port);

  // Closes the connection in order (see TcpSocket::CloseOrderly), or
  // abandons an attempt under way: its lookup is cancelled and its socket
  // closed. Raises OnDisconnect when there was a socket. A stream being
  // sent is dropped with what was queued behind it; bytes queued before it
  // still go out during the close.
  void CloseConnection();

  // Sends `count` bytes. Returns 0 when not connected (nothing is sent),
  // `count` when the bytes went out or were queued behind what is still
  // waiting, and -1 when the send failed (OnError with eeSend, then the
  // connection is closed; throws "Windows socket error ... 'send'" unless
  // the handler cleared the code).
  int SendBytes(const void *buffer, int count);
  // SendBytes of all of `text`, zero bytes included.
  int SendString(const QByteArray &text);

  // Sends `stream` from its current position to its end, in pieces of at
  // most 4096 bytes, as fast as the connection takes them; the rest follows
  // from the event loop. Returns false, leaving `stream` with the caller,
  // when not connected or when another stream is being sent; otherwise
  // takes it over and returns true. StreamProgress and StreamFinished tell
  // how it goes. A failed piece raises OnError with eeSend, closes the
  // connection and throws EAbort (also when called from the event loop).
  bool BeginStreamSend(std::unique_ptr<QIODevice> &&stream);

  // Sends what is waiting, as far as the socket takes it. Returns false when
  // nothing was waiting or there is no connection. Run on every readiness
  // to write; callers rarely need it.
  bool ContinueStreamSend();

signals:
  // After each piece of a stream has been handed to the network: bytes of
  // the stream sent so far, and its length (-1 for a sequential device).
  void StreamProgress(qint64 sent, qint64 total);
  // The stream has ended, whichever way: `delivered` only when the
  // printer's side acknowledged every byte of it; otherwise it failed, its
  // connection closed or broke, or the stream could not be read.
  // `acknowledged` is how many bytes of the stream the printer has, `total`
  // its length (-1 for a sequential device). Raised once per stream, also
  // when the connection is closed or the socket object destroyed.
  void StreamFinished(bool delivered, qint64 acknowledged, qint64 total);
  // Everything accepted so far (bytes and streams) has been acknowledged by
  // the printer's side. Raised when that becomes true after something was
  // accepted.
  void Drained();
  // An orderly close (CloseConnection of a connection) has ended.
  // `undelivered` is how many accepted bytes did not reach the printer
  // (0: everything did). Raised from the event loop.
  void CloseFinished(qint64 undelivered);

private:
  struct SocketNote {
    quint64 attempt;
    TcpEvent event;
    int error;
  };
  struct LookupNote {
    quint64 token;
    HostResolver::Result result;
  };
  // Accepted output, in order: a run of bytes or a stream.
  struct Segment {
    QByteArray bytes;
    qsizetype offset = 0;
    std::unique_ptr<QIODevice> stream;
    qint64 total = -1;
    qint64 sent = 0;
  };

  static QEvent::Type SocketEventType();
  static QEvent::Type LookupEventType();

  void Dispatch(QEvent &event) noexcept;
  void HandleEscaped(std::exception_ptr error) noexcept;
  void OnSocketNote(const SocketNote &note);
  void OnLookupNote(const LookupNote &note);

  void ContinueAfterAddress(quint64 attempt);
  void ConnectNow(quint64 attempt);
  void StartLookup(bool service, const QString &name);
  void CloseAttempt(quint64 attempt);

  void Enqueue(const char *data, qsizetype size);
  void Flush();
  bool SendStream(quint64 attempt);
  void EndStream(bool complete);
  void FailSend(quint64 attempt, int error, bool stream);

  void Raise(TSocketNotifyEvent TSocketEvents::*event);
  int RaiseError(TErrorEvent kind, int code);

  std::shared_ptr<HostResolver> resolver_;
  const TSocketEvents *events_ = nullptr;
  TExceptionHandler exceptionHandler_;

  // The current attempt or connection (0: none). Notifications carry the
  // attempt they belong to; those of an earlier one are ignored.
  quint64 attempt_ = 0;
  quint64 lastAttempt_ = 0;
  std::unique_ptr<TcpSocket> socket_;
  bool connected_ = false;
  bool sendFailed_ = false;
  bool flushing_ = false;

  TLookupState lookupState_ = TLookupState::lsIdle;
  HostResolver::LookupId lookup_ = 0;
  quint64 lookupToken_ = 0; // of the pending lookup (0: none)
  quint64 lastLookupToken_ = 0;
  QString service_;
  quint16 port_ = 0;
  quint32 address_ = 0;

  std::deque<Segment> queue_;
  QByteArray piece_; // the stream's piece being sent
  qsizetype pieceSent_ = 0;

  THiddenWindow window_;
};

} // namespace pellicar
