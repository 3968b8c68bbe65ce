#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

namespace pellicar {

// What a TcpSocket reports about its connection.
enum class TcpEvent {
  // The connect finished; the error tells how (0: the connection stands).
  Connected,
  // The socket takes data again: once after a successful connect, and once
  // after each Send that found the socket's buffer full.
  Writable,
  // New data from the peer arrived. Nothing is read: data that stays unread
  // is not reported again, so a peer that talks never makes the loop spin.
  Readable,
  // The peer closed its side (error 0), or the connection broke (the
  // error, e.g. a reset). Reported once.
  PeerClosed,
};

// How the peer's side of a connection stands, as seen by reading it.
enum class TcpInput {
  // More may come.
  Open,
  // The peer ended its stream in order.
  Ended,
  // The connection broke (e.g. the peer's reset): nothing more comes.
  Broken,
};

// A non-blocking IPv4 stream socket whose readiness is reported through the
// event loop of the thread that created it. Nothing here ever waits for the
// network.
//
// Error codes are the operating system's error numbers (errno on POSIX);
// SystemErrorText (platform/system_error.h) gives their text.
//
// Thread: every call, and every notification, on the creating thread.
class TcpSocket {
public:
  // Called from the event loop, never from inside a call on the socket.
  // The callee must not destroy the socket during the call (post the news
  // on instead).
  using Notify = std::function<void(TcpEvent event, int error)>;

  // Closes the socket at once if it is still open.
  virtual ~TcpSocket() = default;

  // Sends the notifications to `notify` from now on (e.g. to whoever takes
  // the socket over for its close).
  virtual void SetNotify(Notify notify) = 0;

  // Starts connecting to `address` (host byte order) and `port`. Returns 0
  // when the connect is under way (Connected follows), or the error.
  virtual int Connect(quint32 address, quint16 port) = 0;

  // Hands up to `size` bytes to the socket. Returns how many it took; 0
  // (with `error` 0) when its buffer is full, in which case Writable
  // follows once it has room. On failure returns -1 and sets `error`.
  virtual qint64 Send(const char *data, qint64 size, int &error) = 0;

  // How many of the bytes handed to the socket the peer has not yet
  // acknowledged (0: the peer's side has every one of them), or -1 when
  // that cannot be read. When the connection is broken or was never made,
  // `error` is set: nothing will be acknowledged any more, and a count
  // above 0 is what was left unacknowledged when it broke. Meaningless once
  // ShutdownSend was called (the end of the stream is counted too).
  virtual qint64 Unacknowledged(int &error) = 0;

  // Ends the sending side after the bytes already handed over.
  virtual void ShutdownSend() = 0;

  // Reads and throws away what the peer sent, and tells whether more may
  // come (Broken also when there is no socket).
  virtual TcpInput DiscardInput() = 0;

  // Reads what has arrived, up to `size` bytes, without waiting; returns
  // how many (0: nothing there now). `input` tells whether more may come;
  // when Broken, `error` says why (0 when there is no socket). After a
  // read, the next arrival is reported as Readable again.
  virtual qint64 Receive(char *buffer, qint64 size, TcpInput &input, int &error) = 0;

  // Closes the socket now. The peer sees the end of the stream, provided
  // everything it sent was read (DiscardInput) first. Returns 0 or the
  // error of the close; inert afterwards (no more notifications).
  virtual int Close() = 0;

  // Closes the socket now with a reset, so that nothing still
  // unacknowledged goes out later. Inert afterwards.
  virtual void Reset() = 0;
};

// Creates a socket that reports to `notify`. On failure returns nullptr and
// sets `error`.
std::unique_ptr<TcpSocket> CreateTcpSocket(TcpSocket::Notify notify, int &error);

} // namespace pellicar
