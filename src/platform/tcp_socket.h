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

// A non-blocking IPv4 stream socket whose readiness is reported through the
// event loop of the thread that created it. Nothing here ever waits for the
// network.
//
// Error codes are the operating system's error numbers (errno on POSIX);
// SocketErrorText gives their text.
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

  // Starts connecting to `address` (host byte order) and `port`. Returns 0
  // when the connect is under way (Connected follows), or the error.
  virtual int Connect(quint32 address, quint16 port) = 0;

  // Hands up to `size` bytes to the socket. Returns how many it took; 0
  // (with `error` 0) when its buffer is full, in which case Writable
  // follows once it has room. On failure returns -1 and sets `error`.
  virtual qint64 Send(const char *data, qint64 size, int &error) = 0;

  // Ends the connection without a reset: `unsent` is sent first, then the
  // sending side is shut down, whatever the peer sends is read and thrown
  // away, and the socket is closed when the peer has closed its side or
  // after `boundMs` milliseconds, whichever comes first. Returns at once;
  // this goes on in the event loop by itself, and this object is inert
  // afterwards (no more notifications; destroying it closes nothing).
  virtual void CloseOrderly(QByteArray unsent, int boundMs) = 0;

  // Closes the socket now. Returns 0 or the error of the close. Inert
  // afterwards.
  virtual int Close() = 0;
};

// Creates a socket that reports to `notify`. On failure returns nullptr and
// sets `error`.
std::unique_ptr<TcpSocket> CreateTcpSocket(TcpSocket::Notify notify, int &error);

// The operating system's text for an error code of a socket call, or of a
// host lookup (HostResolver's codes, which are negative).
QString SocketErrorText(int code);

// How many orderly closes (CloseOrderly) are still going on in this thread.
int OrderlyClosesPending();

} // namespace pellicar
