#pragma once

#include "channels/ack_watch.h"
#include "channels/hidden_window.h"
#include "platform/host_resolver.h"
#include "platform/tcp_socket.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QIODevice>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

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
// in silence: what the socket does not take at once is kept (up to
// kHeldLimit bytes, streams aside) and sent, in the order of the calls, as
// soon as it has room; a close goes on sending it (see CloseConnection);
// and what the printer did not get in the end is reported (StreamFinished,
// CloseFinished). Bytes count as delivered only once the printer's side has
// acknowledged them, not when the socket took them.
class TCustomWinSocket : public QObject {
  Q_OBJECT
public:
  // What SendBytes keeps beyond the socket's own buffer for a printer that
  // is not reading (e.g. out of paper). Commands are small; large data goes
  // as a stream, which is read from its device as it goes out and does not
  // count. A few MiB is far more than any sequence of commands.
  static constexpr qsizetype kHeldLimit = 4 << 20;
  // How long a connect may stay under way before it fails as timed out.
  // The kernel's own retries last about two minutes; a printer on the local
  // network answers within milliseconds, and Windows gives up on such a
  // connect after about 21 s.
  static constexpr int kConnectTimeoutMs = 20000;
  // How often the printer's acknowledgements are read while part of a
  // stream is unacknowledged: about ten a second moves a bar smoothly and
  // costs nothing measurable. Nothing is read while no stream is
  // outstanding.
  static constexpr int kProgressReadingMs = 100;
  // How long a stream may go without the printer acknowledging another
  // byte before the transfer is given up. A printer busy printing stops
  // reading for a moment; one that takes nothing for this long is out of
  // paper, off or gone. The length of the stream plays no part.
  static constexpr int kStreamStallLimitMs = 10000;

  explicit TCustomWinSocket(std::shared_ptr<HostResolver> resolver, QObject *parent = nullptr);
  // Closes the connection in order (without raising OnDisconnect; the close
  // goes on by itself, and CloseFinished is no longer raised for it) and
  // abandons an attempt under way. A stream not yet delivered is reported
  // with StreamFinished(false, ...).
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
  // Bytes accepted by SendBytes and not yet handed to the network (at most
  // kHeldLimit).
  qsizetype HeldBytes() const { return held_; }
  // A stream is being sent or waits for the printer to acknowledge it
  // (BeginStreamSend would return false).
  bool StreamSending() const;
  // Bytes handed to the network on the current connection that the
  // printer's side has acknowledged, as the system counts them now (the
  // last count once the connection broke); 0 when not connected.
  qint64 Acknowledged();
  // Orderly closes of this object's connections still going on.
  int ClosesPending() const { return closesPending_; }
  // Appends what the printer sent and is there now to `into` (after
  // OnRead, or at any time), and tells whether more may come; Broken when
  // not connected. What is not read stays in the socket.
  TcpInput Receive(QByteArray &into);

  // Changes the connect time limit (tests); kConnectTimeoutMs by default.
  void SetConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
  // Changes how long a close waits for a printer that makes no progress
  // (tests); TClosingConnection::kStallLimitMs by default.
  void SetCloseStallLimit(int ms) { closeStallLimitMs_ = ms; }
  // Changes the stream's stall limit (kStreamStallLimitMs by default).
  void SetStreamStallLimit(int ms) { streamStallLimitMs_ = ms; }

  // Starts connecting to `host` (resolved asynchronously) or, when it is
  // empty, to the dotted `address`, at the port of `service` or else `port`.
  // An attempt already under way is abandoned first. Raises OnLookup before
  // it returns; OnConnecting and OnConnect (or OnError) follow from the
  // event loop. Throws "Socket already open" while connected.
  virtual void OpenConnection(const QString &host, const QString &address, const QString &service,
                              quint16 port);

  // Closes the connection in order, or abandons an attempt under way (its
  // lookup is cancelled and its socket closed). Raises OnDisconnect when
  // there was a socket. Returns at once. The orderly close goes on from the
  // event loop (TClosingConnection): bytes accepted before a stream still go
  // out as long as the printer takes them, and CloseFinished tells how it
  // ended. A stream of which the printer has not acknowledged every byte is
  // abandoned: StreamFinished(false, ...) at once, with the count read at
  // that moment, and the connection is reset so that no more of it reaches
  // the printer behind that count. What was queued behind the stream is
  // dropped and counted as undelivered.
  //
  // A printer that closes its sending side while a stream is outstanding
  // is not closed on: the transfer goes on as long as the printer keeps
  // acknowledging, and the connection is closed once it has everything.
  void CloseConnection();

  // Sends `count` bytes. Returns 0 when not connected (nothing is sent),
  // `count` when the bytes went out or were queued behind what is still
  // waiting, and -1 when nothing was taken: either keeping them would pass
  // kHeldLimit (the connection stays open; nothing is raised), or the send
  // failed (OnError with eeSend, then the connection is closed; throws
  // "Windows socket error ... 'send'" unless the handler cleared the code).
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

  // Receive, counting: how many bytes were appended (0 when not
  // connected). Nothing else reads what arrives: without one of the two it
  // stays unread (OnRead tells of it).
  qsizetype ReceiveBytes(QByteArray &into);

  // Sends what is waiting, as far as the socket takes it. Returns false when
  // nothing was waiting or there is no connection. Run on every readiness
  // to write; callers rarely need it.
  bool ContinueStreamSend();

signals:
  // After each piece of a stream has been handed to the network: bytes of
  // the stream sent so far, and its length (-1 for a sequential device).
  // What the network took, not what the printer has: not for display.
  void StreamProgress(qint64 sent, qint64 total);
  // The printer's side has acknowledged more of the stream: how many bytes
  // of it, and its length. Read from the event loop every
  // kProgressReadingMs while part of the stream is unacknowledged.
  void StreamAcknowledged(qint64 acknowledged, qint64 total);
  // The printer acknowledged nothing of the stream for `stalledMs`
  // (SetStreamStallLimit): the stream is abandoned right after, as by
  // CloseConnection (StreamFinished false, OnDisconnect).
  void StreamStalled(qint64 acknowledged, qint64 total, int stalledMs);
  // The stream has ended, whichever way: `delivered` only when the
  // printer's side acknowledged every byte of it; otherwise it failed, its
  // connection closed or broke, or the stream could not be read.
  // `acknowledged` is how many bytes of the stream the printer's side has
  // acknowledged, `total` its length (-1 for a sequential device); `exact`
  // is false when the count could not be read at the end and is the last
  // one read before (the printer has at least that). Raised once per stream, also
  // when the connection is closed or the socket object destroyed; from the
  // event loop, except for a stream abandoned by CloseConnection or a
  // failed send (raised inside that call, after OnDisconnect).
  void StreamFinished(bool delivered, qint64 acknowledged, qint64 total, bool exact);
  // Everything accepted so far (bytes and streams) has been acknowledged by
  // the printer's side. Raised from the event loop when that becomes true
  // after something was accepted.
  void Drained();
  // The close of a connection that stood has ended, however it began
  // (CloseConnection, the printer's close, a failed send). `undelivered` is
  // how many accepted bytes did not reach the printer (0: everything did),
  // apart from those of a stream: what of a stream did not arrive is told
  // by its StreamFinished alone. Commands accepted before or behind a stream
  // count. `broken`: the connection broke (the printer's reset, or a network
  // failure) instead of ending in order; with nothing undelivered, the
  // printer threw the connection away after acknowledging every byte,
  // which is how one that closes with bytes unread loses them (see
  // TClosingConnection::Finished). Raised from the event loop.
  void CloseFinished(qint64 undelivered, bool broken);

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
    qint64 start = -1; // of a stream: bytes handed to the socket before its first
  };
  // A stream handed to the socket whole, not yet acknowledged whole.
  struct SentStream {
    qint64 start;
    qint64 sent;
    qint64 total;
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

  void CloseConnected(std::unique_ptr<TcpSocket> socket, std::deque<Segment> queue,
                      std::optional<SentStream> sent);
  void OnConnectTimeout();

  void Enqueue(const char *data, qsizetype size);
  qint64 Hand(const char *data, qint64 size, int &error);
  void Flush();
  bool SendStream(quint64 attempt);
  void EndStream(bool read);
  void FailSend(quint64 attempt, int error, bool stream);
  bool ReadAcknowledged();
  void ExpectAcknowledgement();
  void LookAtDelivery(bool fromWatch);
  qint64 AcknowledgedOf(qint64 start, qint64 sent) const;
  std::optional<SentStream> OutstandingStream() const;
  void ReadProgress();

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
  qsizetype held_ = 0; // bytes of the queue's byte runs
  QByteArray piece_;   // the stream's piece being sent
  qsizetype pieceSent_ = 0;
  std::optional<SentStream> sentStream_;

  // Of the current connection: bytes handed to the socket, and of them
  // those the printer's side acknowledged (as last looked at).
  qint64 handed_ = 0;
  qint64 acknowledged_ = 0;
  bool drainedReported_ = true;
  bool countCurrent_ = true; // the last reading of acknowledged_ succeeded
  TAckWatch watch_;

  // Of the stream outstanding: acknowledged bytes as last reported, and
  // since when they stand still.
  QTimer progressTimer_;
  qint64 progressReported_ = -1;
  qint64 progressCount_ = 0; // acknowledged_ when it last moved
  QElapsedTimer progressStill_;
  int streamStallLimitMs_ = kStreamStallLimitMs;
  // The printer closed its side while something was outstanding: the
  // connection is closed once it has everything.
  bool peerClosed_ = false;

  QTimer connectTimer_;
  int connectTimeoutMs_ = kConnectTimeoutMs;
  int closeStallLimitMs_;
  int closesPending_ = 0;
  bool destroying_ = false;

  THiddenWindow window_;
};

} // namespace pellicar
