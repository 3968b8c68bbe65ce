#pragma once

#include "cli/delivery.h"

#include <QString>

namespace pellicar {

// --tcp HOST[:PORT]: the window's TCP client. It connects, hands the
// command sequences to the connection one send each (a stream in pieces,
// as the connection takes them), and closes in order. Success means the
// printer's side acknowledged every byte and the orderly close finished;
// a refused or broken connection, a failed lookup, a close that left bytes
// undelivered (saying how many), or a wait longer than `timeoutMs` (for
// the connection, for the printer to take the next piece or acknowledge the
// rest, or for the close) is raised as ESendFailed. A stream shows a progress bar when
// `showProgress`.
class TTcpDelivery : public TDelivery {
public:
  TTcpDelivery(QString host, quint16 port, int timeoutMs, bool showProgress)
      : host_(std::move(host)), port_(port), timeoutMs_(timeoutMs), showProgress_(showProgress) {}
  void Deliver(const CliJob &job) override;

private:
  QString host_;
  quint16 port_;
  int timeoutMs_;
  bool showProgress_;
};

} // namespace pellicar
