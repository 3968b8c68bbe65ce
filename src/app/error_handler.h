#pragma once

#include <QString>

#include <exception>
#include <utility>

class QWidget;

namespace pellicar {

class MessageBoxes;

// The application's title: the caption of the boxes that show unhandled
// errors.
inline QString ApplicationTitle() { return QStringLiteral("Pellicar"); }

// The message as the error box shows it: a full stop is appended when the
// last character sorts after "." (so "Error opening serial port" gains one,
// while "Done." and "Error!" are left alone).
QString WithFullStop(const QString &message);

// The top-level error handler. Shows the message of the exception in one
// modal box with the error icon, captioned with the application title, and
// its detail (Exception::detail) as the box's detail text; the silent
// abort shows nothing. Main thread only; never throws.
void HandleException(MessageBoxes &boxes, QWidget *owner, std::exception_ptr error) noexcept;

// Runs a handler so that no exception leaves it: what it throws ends the
// handler and goes to HandleException. Every event handler of the window
// runs inside this guard, because no exception may cross a toolkit frame.
template <typename F> void Guarded(MessageBoxes &boxes, QWidget *owner, F &&handler) noexcept {
  try {
    std::forward<F>(handler)();
  } catch (...) {
    HandleException(boxes, owner, std::current_exception());
  }
}

} // namespace pellicar
