#pragma once

#include <QString>

class QWidget;

namespace pellicar {

enum class MsgIcon { None, Error, Information, Warning, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };
// Owner: modal to the owning window. System: modal to the whole
// application and kept on top.
enum class MsgModality { Owner, System };

struct MessageBoxRequest {
  QString text;
  QString caption;
  MsgIcon icon = MsgIcon::None;
  MsgButtons buttons = MsgButtons::Ok;
  MsgModality modality = MsgModality::Owner;
  // Why, in more words: shown under the text, smaller. Empty: none.
  QString detail = {};
};

// Every message box of the program goes through this interface, so that
// tests can answer boxes and see what they said. Main thread only; Show
// returns when the user has closed the box.
class MessageBoxes {
public:
  virtual ~MessageBoxes() = default;
  virtual MsgResult Show(QWidget *owner, const MessageBoxRequest &request) = 0;
};

// The real boxes (QMessageBox).
class QtMessageBoxes final : public MessageBoxes {
public:
  MsgResult Show(QWidget *owner, const MessageBoxRequest &request) override;
};

} // namespace pellicar
