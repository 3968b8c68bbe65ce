#pragma once

#include "channels/printer_link.h"
#include "cli/cli_errors.h"
#include "commands/status_answers.h"

#include <QJsonObject>

namespace pellicar {

// A status reading as `status --json` prints it: online, cover, paper,
// feed button, error, drawer, each a word.
QJsonObject StatusJson(const ReportedStatus &status);

// The commands that read the printer's answers: status and wait-ready
// (also after firmware --wait-ready). They print on standard output and
// raise ESendFailed, naming the place, when no trusted answer came.
// Main thread.
class TReadBackRunner {
public:
  // `timeoutMs` bounds the connection and each answer.
  TReadBackRunner(ChannelChoice target, int timeoutMs)
      : target_(std::move(target)), timeoutMs_(timeoutMs) {}

  // One status reading, printed as lines "key: value" or as one JSON
  // object. Sent when the printer is ready, NotReady when it is not.
  ExitStatus Status(bool json);

  // Asks again and again, over a new link each time, until the printer
  // answers ready (prints how long that took; Sent) or `withinMs` have
  // passed (ESendFailed saying what the printer last said or what last
  // failed). `afterUpload`: the printer is about to restart, so a "ready"
  // counts only once it has been seen going down (a failed question or a
  // "not ready"), or after a grace of 10 s (at most half of `withinMs`),
  // and then the output says that no restart was seen.
  ExitStatus WaitReady(int withinMs, bool afterUpload);

private:
  ChannelChoice target_;
  int timeoutMs_;
};

} // namespace pellicar
