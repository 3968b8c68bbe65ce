#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace pellicar::test {

// Runs the event loop for up to `ms` milliseconds, sleeping while nothing
// arrives. (processEvents() with a time limit drops WaitForMoreEvents and
// spins a core, and it never runs deferred deletes: a nested loop does
// neither.)
inline void RunEventLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(std::max(ms, 0), &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until `condition` holds or `timeoutMs` have passed;
// returns whether it holds. The condition is looked at every few
// milliseconds and after events.
inline bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!condition()) {
    if (deadline.hasExpired())
      return condition();
    RunEventLoopFor(int(std::min<qint64>(5, std::max<qint64>(1, deadline.remainingTime()))));
  }
  return true;
}

} // namespace pellicar::test
