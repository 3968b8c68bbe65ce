#include "channels/ack_watch.h"

#include <algorithm>

namespace pellicar {

TAckWatch::TAckWatch(std::function<void()> look, QObject *parent)
    : QObject(parent), look_(std::move(look)) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { look_(); });
}

void TAckWatch::Start() {
  waitMs_ = kFirstLookMs;
  timer_.start(waitMs_);
}

void TAckWatch::Again() {
  waitMs_ = std::min(waitMs_ * 2, kLongestWaitMs);
  timer_.start(waitMs_);
}

void TAckWatch::Stop() { timer_.stop(); }

} // namespace pellicar
