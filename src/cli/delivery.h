#pragma once

#include "cli/cli_request.h"

#include <vector>

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

// How many of `sequences`, from the first, lie whole within their first
// `bytes` bytes: what a channel that confirmed `bytes` of a job reports as
// ESendFailed's confirmedSequences (-1 stays -1: it cannot tell).
inline int WholeSequencesWithin(const std::vector<CommandSequence> &sequences, qint64 bytes) {
  if (bytes < 0)
    return -1;
  int whole = 0;
  qint64 end = 0;
  for (const CommandSequence &sequence : sequences) {
    end += sequence.bytes.size();
    if (end > bytes)
      break;
    ++whole;
  }
  return whole;
}

} // namespace pellicar
