// Saves a picture of the main window, as the user sees it, to a PNG file.
//
//   pellicar-screenshot OUT.png [TAB]
//
// TAB is the index of the tab to show (0 = Base). Meant to run under a
// real display server (xvfb-run); the window talks to nothing: the printer
// list is empty and no port is opened.

#include "app/application.h"
#include "app/file_dialogs.h"
#include "app/main_form.h"
#include "app/message_box.h"

#include <QTabWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.png [TAB]\n", argv[0]);
    return 2;
  }
  pellicar::QtMessageBoxes boxes;
  pellicar::QtFileDialogs fileDialogs;
  pellicar::TApplication app(argc, argv, boxes);

  pellicar::FormServices services;
  services.boxes = &boxes;
  services.fileDialogs = &fileDialogs;
  services.listPrinters = [] { return QStringList(); };
  pellicar::TForm1 form(services);
  if (argc > 2) {
    if (auto *tabs = form.findChild<QTabWidget *>(QStringLiteral("pgcFunction")))
      tabs->setCurrentIndex(QString::fromLocal8Bit(argv[2]).toInt());
  }
  form.show();
  const QString out = QString::fromLocal8Bit(argv[1]);
  int status = 1;
  QTimer::singleShot(500, &form, [&] {
    status = form.grab().save(out) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return status;
}
