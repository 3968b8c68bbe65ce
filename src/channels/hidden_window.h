#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <functional>
#include <utility>

namespace pellicar {

// A component's receiver of asynchronous reports. It lives on the main
// thread; worker threads and platform callbacks report by posting an event
// to it (Post, callable from any thread), and the events are handed to the
// component's handler on the main thread, in the order they were posted.
class THiddenWindow : public QObject {
  Q_OBJECT
public:
  using Handler = std::function<void(QEvent &)>;

  explicit THiddenWindow(Handler handler, QObject *parent = nullptr);

  // Any thread. The event is owned by the event queue from here on; events
  // still queued when the window is destroyed are released unhandled.
  void Post(QEvent *event) { QCoreApplication::postEvent(this, event); }

  // Main thread: discard the events still queued for this window.
  void DiscardPosted() { QCoreApplication::removePostedEvents(this); }

protected:
  bool event(QEvent *event) override;

private:
  Handler handler_;
};

// An event that carries a value, for reports that need more than their
// type. Each report kind registers its own type number with
// RegisterEventType().
template <typename T> class TPayloadEvent : public QEvent {
public:
  TPayloadEvent(QEvent::Type type, T payload) : QEvent(type), payload_(std::move(payload)) {}
  const T &payload() const { return payload_; }
  T &payload() { return payload_; }

private:
  T payload_;
};

inline QEvent::Type RegisterEventType() { return QEvent::Type(QEvent::registerEventType()); }

} // namespace pellicar
