#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QtGlobal>

#include <memory>

namespace pellicar {

// How a call on a StreamLink ended.
enum class LinkStatus {
  Ok,
  TimedOut, // the deadline passed first; nothing was lost
  Closed,   // the other side closed (end of stream, hang-up)
  Failed,   // any other error; `error` says which
};

// A two-way byte stream to a printer on which every wait ends by a
// deadline: a TCP connection, or a character device (a USB printer's
// device node, a terminal). The calls block the calling thread, at most
// until their deadline; this is for the command-line tool, which has
// nothing else to do meanwhile, never for the window.
//
// Error codes are the operating system's error numbers; SystemErrorText
// (platform/system_error.h) gives their text. One thread at a time.
class StreamLink {
public:
  // Closes the link (a TCP connection in order: see CloseOrderly).
  virtual ~StreamLink() = default;

  // Hands some of `data` to the link: Ok with `written` > 0; TimedOut when
  // the deadline passed with nothing taken.
  virtual LinkStatus Write(const char *data, qint64 size, qint64 &written,
                           const QDeadlineTimer &deadline, int &error) = 0;

  // Waits for bytes and reads what is there, up to `size`: Ok with
  // `count` > 0; TimedOut when nothing came before the deadline.
  virtual LinkStatus Read(char *buffer, qint64 size, qint64 &count, const QDeadlineTimer &deadline,
                          int &error) = 0;

  // Waits until what was written has left this computer: a terminal's
  // output queue is empty, the printer has acknowledged every byte of a
  // TCP connection, a printer device has no write pending.
  virtual LinkStatus Drain(const QDeadlineTimer &deadline, int &error) = 0;

  // Throws away input that has arrived and not been read.
  virtual void DiscardInput() = 0;
};

// Connects to `address` (IPv4, host byte order) and `port`. On failure
// returns nullptr with `status` TimedOut, or Failed and `error` (e.g.
// ECONNREFUSED).
std::unique_ptr<StreamLink> ConnectTcpLink(quint32 address, quint16 port,
                                           const QDeadlineTimer &deadline, LinkStatus &status,
                                           int &error);

// Opens the character device `path` for reading and writing, without
// seeking and without making it the controlling terminal, and locks it
// against other users of the same lock (flock). A terminal is switched to
// raw bytes (no echo, no line editing, no flow control by the driver) with
// its speed left as it was. On failure returns nullptr with `error`; ENODEV
// when `path` is not a character device, EBUSY when another program holds
// the lock.
std::unique_ptr<StreamLink> OpenDeviceLink(const QString &path, int &error);

} // namespace pellicar
