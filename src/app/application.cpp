#include "app/application.h"

#include "app/error_handler.h"

#include <QFile>
#include <QFontDatabase>
#include <QIcon>
#include <QStyleFactory>

namespace pellicar {

TApplication::TApplication(int &argc, char **argv, MessageBoxes &boxes)
    : QApplication(argc, argv), boxes_(boxes) {
  SetUpApplication(*this);
}

bool TApplication::notify(QObject *receiver, QEvent *event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleException(boxes_, activeWindow(), std::current_exception());
    return true;
  }
}

void LoadWindowFaces() {
  static const char *const files[] = {"/usr/share/wine/fonts/tahoma.ttf",
                                      "/usr/share/wine/fonts/tahomabd.ttf"};
  for (const char *file : files) {
    const QString path = QString::fromLatin1(file);
    if (QFile::exists(path))
      QFontDatabase::addApplicationFont(path);
  }
}

QIcon WindowIcon() {
  QIcon icon;
  for (const char *size : {"48", "256"})
    icon.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1String(size)));
  return icon;
}

void SetUpApplication(QApplication &app) {
  // Only the name: a display name would be appended by Qt to every window
  // title (" — Pellicar"), while each window carries its caption alone.
  app.setApplicationName(ApplicationTitle());
  // The desktop entry's name, so that a desktop matches the window to its
  // menu entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.pellicar.Pellicar"));
  QApplication::setWindowIcon(WindowIcon());
  if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
    QApplication::setStyle(fusion);
  LoadWindowFaces();
}

} // namespace pellicar
