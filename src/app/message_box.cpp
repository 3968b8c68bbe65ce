#include "app/message_box.h"

#include <QMessageBox>

namespace pellicar {

namespace {

QMessageBox::Icon toQt(MsgIcon icon) {
  switch (icon) {
  case MsgIcon::Error:
    return QMessageBox::Critical;
  case MsgIcon::Information:
    return QMessageBox::Information;
  case MsgIcon::Warning:
    return QMessageBox::Warning;
  case MsgIcon::Question:
    return QMessageBox::Question;
  case MsgIcon::None:
    break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toQt(MsgButtons buttons) {
  switch (buttons) {
  case MsgButtons::Ok:
    return QMessageBox::Ok;
  case MsgButtons::OkCancel:
    return QMessageBox::Ok | QMessageBox::Cancel;
  case MsgButtons::YesNo:
    return QMessageBox::Yes | QMessageBox::No;
  case MsgButtons::YesNoCancel:
    return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

MsgResult fromQt(int button) {
  switch (button) {
  case QMessageBox::Ok:
    return MsgResult::Ok;
  case QMessageBox::Yes:
    return MsgResult::Yes;
  case QMessageBox::No:
    return MsgResult::No;
  default:
    return MsgResult::Cancel;
  }
}

} // namespace

MsgResult QtMessageBoxes::Show(QWidget *owner, const MessageBoxRequest &request) {
  QMessageBox box(toQt(request.icon), request.caption, request.text, toQt(request.buttons), owner);
  if (!request.detail.isEmpty())
    box.setInformativeText(request.detail);
  if (request.modality == MsgModality::System) {
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
  } else {
    box.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
  }
  return fromQt(box.exec());
}

} // namespace pellicar
