#pragma once

#include "cli/delivery.h"

#include <QString>

namespace pellicar {

// --serial DEVICE: the window's serial component, opened as its "Open"
// button opens it (8 data bits, 1 stop bit, the given speed and parity,
// XON/XOFF sent by the computer). Every command sequence is queued to the
// write thread; success means the write thread wrote the whole queue and
// the port was closed after the driver sent it. A port that cannot be
// opened ("Error opening serial port"), a failed write, a queue not
// written within `timeoutMs`, or a close that threw bytes away (saying how
// many) is raised as ESendFailed. Streams (logo, firmware) are refused
// before this is reached, as in the window.
class TSerialDelivery : public TDelivery {
public:
  TSerialDelivery(QString device, quint32 baudRate, int parityIndex, int timeoutMs)
      : device_(std::move(device)), baudRate_(baudRate), parityIndex_(parityIndex),
        timeoutMs_(timeoutMs) {}
  void Deliver(const CliJob &job) override;

private:
  QString device_;
  quint32 baudRate_;
  int parityIndex_;
  int timeoutMs_;
};

} // namespace pellicar
