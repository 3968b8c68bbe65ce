#pragma once

#include "cli/delivery.h"

#include <QString>
#include <QStringList>

class QDeadlineTimer;

namespace pellicar {

// --queue NAME: the spooler channel, as the window uses it with "Driver："
// chosen. Every command sequence is a raw job of its own, titled by its
// document name; a stream (logo, firmware) is one raw job written in
// 1024-byte pieces. Success: the print server confirmed every job. The
// whole delivery, failure report included, is bounded by `timeoutMs`; after
// a failed job the rest are not tried.
class TQueueDelivery : public TDelivery {
public:
  TQueueDelivery(QString queue, int timeoutMs, bool showProgress)
      : queue_(std::move(queue)), timeoutMs_(timeoutMs), showProgress_(showProgress) {}
  void Deliver(const CliJob &job) override;

private:
  // Raises the failure for the job named in `refused` and those not tried
  // after it, telling a queue that does not exist from one that refused
  // the job, and adding what the server may still hold (`unsettled`).
  [[noreturn]] void Fail(const QDeadlineTimer &deadline, const QStringList &refused,
                         const QStringList &notTried, const QStringList &unsettled,
                         int confirmed) const;

  QString queue_;
  int timeoutMs_;
  bool showProgress_;
};

} // namespace pellicar
