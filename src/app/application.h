#pragma once

#include <QApplication>
#include <QIcon>

namespace pellicar {

class MessageBoxes;

// The program's application object. Sets the application title and the
// window style, and loads the window's faces where the machine has them.
// As a last line of defence, an exception that escapes an event handler
// anyway goes to the top-level error handler instead of ending the program.
class TApplication : public QApplication {
public:
  TApplication(int &argc, char **argv, MessageBoxes &boxes);

  bool notify(QObject *receiver, QEvent *event) override;

private:
  MessageBoxes &boxes_;
};

// Makes "Tahoma" resolve to the Tahoma files of the Wine fonts package when
// they are installed (fontconfig does not scan that folder). Without them
// the toolkit falls back to its default sans-serif face.
void LoadWindowFaces();

// The program's icon, rendered at build time from the same drawing as the
// icons installed for the menu entry.
QIcon WindowIcon();

// Settings every instance of the program shares, tests included: title,
// icon, style, faces.
void SetUpApplication(QApplication &app);

} // namespace pellicar
