#include "channels/hidden_window.h"

namespace pellicar {

THiddenWindow::THiddenWindow(Handler handler, QObject *parent)
    : QObject(parent), handler_(std::move(handler)) {}

bool THiddenWindow::event(QEvent *event) {
  if (event->type() >= QEvent::User && event->type() <= QEvent::MaxUser) {
    handler_(*event);
    return true;
  }
  return QObject::event(event);
}

} // namespace pellicar
