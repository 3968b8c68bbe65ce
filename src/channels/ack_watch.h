#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace pellicar {

// Looks again, a little later each time, whether the printer's side has
// acknowledged what was handed to a socket.
//
// The kernel raises no readiness event when the last byte is acknowledged
// (a socket reports room to write only after its buffer was full), so the
// count of unacknowledged bytes is read on a single-shot timer. The wait
// doubles from a few milliseconds (an answering printer acknowledges within
// a round trip) up to a quarter of a second (a printer that stopped reading
// then costs four wake-ups a second), and the timer runs only while the
// owner has bytes outstanding: an idle connection is not looked at.
//
// Thread: the owner's (main) thread.
class TAckWatch : public QObject {
  Q_OBJECT
public:
  static constexpr int kFirstLookMs = 2;
  static constexpr int kLongestWaitMs = 250;

  // `look` is called on each expiry; it calls Again() if it wants another.
  explicit TAckWatch(std::function<void()> look, QObject *parent = nullptr);

  // Looks soon, starting the back-off afresh (new bytes went out).
  void Start();
  // Looks again after twice the last wait, at most kLongestWaitMs.
  void Again();
  void Stop();
  bool Active() const { return timer_.isActive(); }

private:
  std::function<void()> look_;
  QTimer timer_;
  int waitMs_ = kFirstLookMs;
};

} // namespace pellicar
