#pragma once

#include "cli/delivery.h"

#include <QString>

namespace pellicar {

// --queue NAME: the spooler channel, as the window uses it with "Driver："
// chosen. Every command sequence is a raw job of its own, titled by its
// document name; a stream (logo, firmware) is one raw job written in
// 1024-byte pieces. Success: the print server took every job whole. Each
// wait for the server is bounded by `timeoutMs`.
class TQueueDelivery : public TDelivery {
public:
  TQueueDelivery(QString queue, int timeoutMs, bool showProgress)
      : queue_(std::move(queue)), timeoutMs_(timeoutMs), showProgress_(showProgress) {}
  void Deliver(const CliJob &job) override;

private:
  // Raises the failure for the jobs named in `refused`, telling a queue
  // that does not exist from one that refused the job.
  [[noreturn]] void Fail(const QStringList &refused) const;

  QString queue_;
  int timeoutMs_;
  bool showProgress_;
};

} // namespace pellicar
