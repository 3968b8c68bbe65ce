// Saves a picture of the main window, as the user sees it, to a PNG file.
//
//   pellicar-screenshot OUT.png [TAB] [connect=ADDRESS:PORT] [click=BUTTON]...
//
// TAB is the index of the tab to show (0 = Base). With connect=, the window
// is switched to "Ethernet ：", the address and port are typed in and
// "Connect" is pressed; each click= presses a button by its object name once
// the connection stands, as a technician would. Meant to run under a real
// display server (xvfb-run), against a printer on loopback only.

#include "app/application.h"
#include "app/file_dialogs.h"
#include "app/main_form.h"
#include "app/message_box.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>
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
  QString connectTo;
  QStringList clicks;
  for (int i = 3; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if (arg.startsWith(QLatin1String("connect=")))
      connectTo = arg.mid(8);
    else if (arg.startsWith(QLatin1String("click=")))
      clicks.append(arg.mid(6));
  }
  form.show();
  auto find = [&form](const QString &name) { return form.findChild<QWidget *>(name); };
  if (!connectTo.isEmpty()) {
    qobject_cast<QAbstractButton *>(find(QStringLiteral("rgPortItem2")))->click();
    qobject_cast<QLineEdit *>(find(QStringLiteral("edtETHIP")))
        ->setText(connectTo.section(QLatin1Char(':'), 0, 0));
    qobject_cast<QLineEdit *>(find(QStringLiteral("edtETHPort")))
        ->setText(connectTo.section(QLatin1Char(':'), 1));
    qobject_cast<QAbstractButton *>(find(QStringLiteral("btnConnect")))->click();
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  int status = 1;
  QTimer::singleShot(400, &form, [&] {
    for (const QString &name : clicks)
      if (auto *button = qobject_cast<QAbstractButton *>(find(name)))
        button->click();
  });
  QTimer::singleShot(700, &form, [&] {
    status = form.grab().save(out) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return status;
}
