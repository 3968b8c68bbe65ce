#pragma once

#include "cli/cli_request.h"

namespace pellicar {

// One way out for a job of kind Commands or Stream. Deliver returns when
// everything went out as the channel defines it, and raises ESendFailed
// (saying what failed and where) otherwise. Main thread; a delivery may run
// the event loop while it waits, never longer than its timeout at a time.
class TDelivery {
public:
  virtual ~TDelivery() = default;
  virtual void Deliver(const CliJob &job) = 0;
};

} // namespace pellicar
