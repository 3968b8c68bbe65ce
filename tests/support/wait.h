#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <functional>

namespace pellicar::test {

// Runs the event loop until `condition` holds or `timeoutMs` have passed;
// returns whether it holds. The loop sleeps while nothing arrives.
inline bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!condition()) {
    if (deadline.hasExpired())
      return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
  return true;
}

// Runs the event loop for `ms` milliseconds (for "nothing else happens"
// checks only; never to wait for a result).
inline void RunEventLoopFor(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                    int(std::max<qint64>(1, deadline.remainingTime())));
}

} // namespace pellicar::test
