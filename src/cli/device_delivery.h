#pragma once

#include "cli/delivery.h"

#include <QString>

namespace pellicar {

// --device PATH: a printer's character device (a USB printer's
// /dev/usb/lp0, or any device file that reads and writes). The bytes are
// written in order, without seeking; success means every byte was written
// and the device took them all before the tool ends (see
// StreamLink::Drain). A device that cannot be opened, a failed write, or a
// wait longer than `timeoutMs` (for the device to take the next piece, or
// to drain) is raised as ESendFailed. A stream shows a progress bar when
// `showProgress`.
class TDeviceDelivery : public TDelivery {
public:
  TDeviceDelivery(QString path, int timeoutMs, bool showProgress)
      : path_(std::move(path)), timeoutMs_(timeoutMs), showProgress_(showProgress) {}
  void Deliver(const CliJob &job) override;

private:
  QString path_;
  int timeoutMs_;
  bool showProgress_;
};

} // namespace pellicar
