#pragma once

#include "platform/exceptions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QtGlobal>

#include <memory>

namespace pellicar {

// A link failed, or a printer did not answer as it should; the message
// says what, without saying where (the caller knows the place).
class EPrinterLinkError : public Exception {
public:
  using Exception::Exception;
};

// Where a two-way link goes.
struct PrinterLinkTarget {
  enum class Kind { Tcp, Serial, Device };
  Kind kind = Kind::Tcp;
  QString name;             // host, serial port or device file
  quint16 port = 9100;      // Tcp
  quint32 baudRate = 19200; // Serial
  int parityIndex = 0;      // Serial: 0 none, 1 odd, 2 even

  // "HOST:PORT", or the device's path: the place messages name.
  QString Where() const;
};

// A two-way link to a printer for the command-line tool: what is sent
// reaches the printer, what it says comes back. Every call waits at most
// until its deadline and throws EPrinterLinkError on failure, a timeout
// included. Main thread (a serial link needs the Qt event loop, which it
// runs while it waits).
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
};

// Opens a link: connects (the host looked up first), opens the serial port
// as the window does (8 data bits, 1 stop bit, the speed and parity given,
// XON/XOFF sent by the computer), or opens the device file (see
// OpenDeviceLink). Throws EPrinterLinkError, within the deadline.
std::unique_ptr<TPrinterLink> OpenPrinterLink(const PrinterLinkTarget &target,
                                              const QDeadlineTimer &deadline);

// Seconds, as messages give them ("2.5").
QString Seconds(qint64 milliseconds);

} // namespace pellicar
