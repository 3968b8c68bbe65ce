#pragma once

#include "channels/channel_choice.h"
#include "platform/exceptions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QtGlobal>

#include <memory>

class QEventLoop;

namespace pellicar {

// A link failed, or a printer did not answer as it should; the message
// says what, without saying where (the caller knows the place).
class EPrinterLinkError : public Exception {
public:
  using Exception::Exception;
};

// Send or Drain ran out of time: the printer's side took nothing more
// before the deadline. The message says so on its own; a sender that
// counts the bytes words it with them.
class ELinkStalled : public EPrinterLinkError {
public:
  using EPrinterLinkError::EPrinterLinkError;
};

// A two-way link to a printer for the command-line tool: what is sent
// reaches the printer, what it says comes back. Every call waits at most
// until its deadline and throws EPrinterLinkError on failure, a timeout
// included (ELinkStalled when Send or Drain ran out of time). Main thread (a serial link needs the
// Qt event loop, which it runs while it waits).
class TPrinterLink {
public:
  virtual ~TPrinterLink() = default;

  // Hands all of `bytes` to the link.
  virtual void Send(const QByteArray &bytes, const QDeadlineTimer &deadline) = 0;

  // Appends to `into` what has arrived, waiting for at least one byte;
  // false when the deadline passed with nothing. Throws when the other
  // side closed or the link failed.
  virtual bool Receive(QByteArray &into, const QDeadlineTimer &deadline) = 0;

  // Waits until what was sent has left this computer (see
  // StreamLink::Drain). A serial link drains when it is closed.
  virtual void Drain(const QDeadlineTimer &deadline) = 0;

  // Throws away what arrived before and was not asked for.
  virtual void DiscardInput() = 0;

  // Ends the link; returns how many bytes it threw away as it closed,
  // having been handed them (0: none, or a link that cannot lose what
  // Drain saw leave). Once; the destructor closes a link not closed. A
  // link that finds at its close that the printer may have lost what it
  // had acknowledged throws EPrinterLinkError saying so.
  virtual quint64 Close() { return 0; }

  // For a link that learns what the printer's side acknowledged (TCP):
  // hands all of `bytes` over as one transfer, which goes on from the event
  // loop while DrainStep waits, and returns true. false (the default): the
  // link cannot count, and the caller hands the bytes over with Send.
  virtual bool Transfer(const QByteArray &bytes) {
    Q_UNUSED(bytes);
    return false;
  }
  // Bytes of everything handed over that the printer's side has
  // acknowledged, as last read; -1 (the default) when the link cannot tell.
  virtual qint64 Acknowledged() const { return -1; }
  // Drain, except that a link that counts acknowledgements returns false as
  // soon as that count moved, so that the caller's bound counts from the
  // printer's last progress; true once drained. Throws as Drain does
  // (ELinkStalled when the deadline passed with no progress).
  virtual bool DrainStep(const QDeadlineTimer &deadline) {
    Drain(deadline);
    return true;
  }

  // What a failed send adds to its message about the bytes: `sent` of
  // `total` were handed over, `lost` of them thrown away at the close
  // (" (N of T bytes written)"); empty when there is nothing to add.
  virtual QString LossNote(qint64 sent, qint64 total, quint64 lost) const;
};

// Opens a link: connects (the host looked up first), opens the serial port
// as the window does (8 data bits, 1 stop bit, the speed and parity given,
// XON/XOFF sent by the computer), or opens the device file (see
// OpenDeviceLink). Throws EPrinterLinkError, within the deadline; a channel
// that is not two-way (no channel, a queue, a file) throws at once.
std::unique_ptr<TPrinterLink> OpenPrinterLink(const ChannelChoice &target,
                                              const QDeadlineTimer &deadline);

// Seconds, as messages give them ("2.5").
QString Seconds(qint64 milliseconds);

// Runs `loop` until something quits it or `deadline` is due, whichever
// comes first. A link's waits call it in a loop until their condition
// holds or the deadline has passed. Main thread.
void RunEventLoopUntil(QEventLoop &loop, const QDeadlineTimer &deadline);

} // namespace pellicar
