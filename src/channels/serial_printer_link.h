#pragma once

#include "channels/comm.h"
#include "channels/printer_link.h"

#include <QString>

class QEventLoop;

namespace pellicar {

// A printer link over the window's serial component: its write thread
// sends, its read thread collects the answers, which arrive through the
// event loop that Receive runs.
class TSerialPrinterLink : public TPrinterLink {
public:
  // Opens `device` as the window's "Open" button does, with the computer's
  // speed and parity given (0 none, 1 odd, 2 even). Throws
  // EPrinterLinkError with the component's message.
  TSerialPrinterLink(const QString &device, quint32 baudRate, int parityIndex);
  // Closes the port, letting the driver send what was queued first.
  ~TSerialPrinterLink() override;

  void Send(const QByteArray &bytes, const QDeadlineTimer &deadline) override;
  bool Receive(QByteArray &into, const QDeadlineTimer &deadline) override;
  void Drain(const QDeadlineTimer &) override {}
  void DiscardInput() override { received_.clear(); }

private:
  TComm comm_;
  QByteArray received_;
  bool hungUp_ = false;
  QEventLoop *waiting_ = nullptr; // Receive's loop while it waits
};

} // namespace pellicar
