#include "app/error_handler.h"

#include "app/message_box.h"
#include "platform/exceptions.h"

namespace pellicar {

QString WithFullStop(const QString &message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.'))
    return message + QLatin1Char('.');
  return message;
}

void HandleException(MessageBoxes &boxes, QWidget *owner, std::exception_ptr error) noexcept {
  QString message;
  QString detail;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort &) {
    return;
  } catch (const Exception &e) {
    message = e.message();
    detail = e.detail();
  } catch (const std::exception &e) {
    message = QString::fromLocal8Bit(e.what());
  } catch (...) {
    message = QStringLiteral("Unknown error");
  }
  try {
    boxes.Show(owner, {WithFullStop(message), ApplicationTitle(), MsgIcon::Error, MsgButtons::Ok,
                       MsgModality::Owner, detail});
  } catch (...) {
    // A box that cannot be shown has nowhere left to report to.
  }
}

} // namespace pellicar
