// Saves a picture of the main window, as the user sees it, to a PNG file.
//
//   pellicar-screenshot OUT.png [TAB] [connect=ADDRESS:PORT | slow-printer]
//                       [click=BUTTON]... [upload=MIB] [profile=FILE] [menu=File|Printer]
//                       [find=RANGE:PORT]
//
// TAB is the index of the tab to show (0 = Base). With connect=, the window
// is switched to "Ethernet ：", the address and port are typed in and
// "Connect" is pressed; each click= presses a button by its object name once
// the connection stands, as a technician would. slow-printer connects the
// same way to a printer that this program plays itself on 127.0.0.1, one
// that reads slowly. upload= then chooses a valid firmware
// file of MIB MiB, presses "Update", answers the warning with OK, and takes
// the picture while the progress bar is under way. profile= opens a profile
// as "Open Profile…" does; menu= opens that menu of the menu bar and
// pictures the screen around the window, menu included. find= opens
// Printer → "Find Printers…", types the range and port, presses "Find" and
// pictures the dialog once the search has ended. Meant to run under
// a real display server (xvfb-run), against a printer on loopback only.

#include "app/application.h"
#include "app/file_dialogs.h"
#include "app/find_printers_dialog.h"
#include "app/main_form.h"
#include "app/main_window.h"
#include "app/menu_bar.h"
#include "app/message_box.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Boxes answered with their first button, for a picture taken unattended;
// their text goes to standard error.
class AnsweringBoxes final : public pellicar::MessageBoxes {
public:
  pellicar::MsgResult Show(QWidget *, const pellicar::MessageBoxRequest &request) override {
    std::fprintf(stderr, "box \"%s\": %s\n", qPrintable(request.caption), qPrintable(request.text));
    return request.buttons == pellicar::MsgButtons::Ok ||
                   request.buttons == pellicar::MsgButtons::OkCancel
               ? pellicar::MsgResult::Ok
               : pellicar::MsgResult::Yes;
  }
};

// A file dialog that picks one given file.
class GivenFile final : public pellicar::FileDialogs {
public:
  QString path;
  QString OpenFile(QWidget *, const pellicar::FileDialogRequest &) override { return path; }
  QString SaveFile(QWidget *, const pellicar::FileDialogRequest &) override { return {}; }
};

// A printer on 127.0.0.1 that takes one connection and reads it slowly.
class SlowPrinter {
public:
  static constexpr int kReadBytes = 16 << 10;
  static constexpr int kReadIntervalMs = 2;

  SlowPrinter() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const int small = 4096; // the printer's small buffer, inherited on accept
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
      return;
    port_ = ntohs(address.sin_port);
    accepting_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    QObject::connect(accepting_.get(), &QSocketNotifier::activated, [this] {
      connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (connection_ >= 0)
        accepting_->setEnabled(false);
    });
    QObject::connect(&reader_, &QTimer::timeout, [this] {
      static char buffer[kReadBytes];
      if (connection_ >= 0)
        (void)::read(connection_, buffer, sizeof buffer);
    });
    reader_.start(kReadIntervalMs);
  }
  ~SlowPrinter() {
    if (connection_ >= 0)
      ::close(connection_);
    ::close(listener_);
  }
  quint16 port() const { return port_; }

private:
  int listener_;
  int connection_ = -1;
  quint16 port_ = 0;
  std::unique_ptr<QSocketNotifier> accepting_;
  QTimer reader_;
};

// A firmware file that passes the check: zeros, the length field, and a
// first word that makes the 32-bit words add up to zero.
bool WriteFirmware(const QString &path, quint32 size) {
  QByteArray head(8, '\0');
  const quint32 first = 0u - size;
  for (int i = 0; i < 4; ++i) {
    head[i] = char(first >> (8 * i));
    head[4 + i] = char(size >> (8 * i));
  }
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(head) == 8 && file.resize(size);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s OUT.png [TAB] [connect=ADDRESS:PORT | slow-printer] "
                 "[click=BUTTON]... [upload=MIB] [profile=FILE] [menu=File|Printer] "
                 "[find=RANGE:PORT]\n",
                 argv[0]);
    return 2;
  }
  QString connectTo;
  QStringList clicks;
  bool slowPrinter = false;
  int uploadMiB = 0;
  QString profile;
  QString menu;
  QString findRange;
  for (int i = 3; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if (arg.startsWith(QLatin1String("connect=")))
      connectTo = arg.mid(8);
    else if (arg.startsWith(QLatin1String("click=")))
      clicks.append(arg.mid(6));
    else if (arg == QLatin1String("slow-printer"))
      slowPrinter = true;
    else if (arg.startsWith(QLatin1String("upload=")))
      uploadMiB = arg.mid(7).toInt();
    else if (arg.startsWith(QLatin1String("profile=")))
      profile = arg.mid(8);
    else if (arg.startsWith(QLatin1String("menu=")))
      menu = arg.mid(5);
    else if (arg.startsWith(QLatin1String("find=")))
      findRange = arg.mid(5);
  }

  pellicar::QtMessageBoxes realBoxes;
  AnsweringBoxes answeringBoxes;
  pellicar::MessageBoxes &boxes =
      uploadMiB > 0 ? static_cast<pellicar::MessageBoxes &>(answeringBoxes) : realBoxes;
  pellicar::QtFileDialogs realDialogs;
  GivenFile firmwareFile;
  pellicar::TApplication app(argc, argv, boxes);

  QTemporaryDir folder;
  if (uploadMiB > 0) {
    firmwareFile.path = QDir(folder.path()).filePath(QStringLiteral("printer-firmware.bin"));
    if (!folder.isValid() || !WriteFirmware(firmwareFile.path, quint32(uploadMiB) << 20)) {
      std::fprintf(stderr, "cannot write the firmware file\n");
      return 1;
    }
  }
  std::unique_ptr<SlowPrinter> printer;
  if (slowPrinter) {
    printer = std::make_unique<SlowPrinter>();
    connectTo = QStringLiteral("127.0.0.1:%1").arg(printer->port());
  }

  pellicar::FormServices services;
  services.boxes = &boxes;
  services.fileDialogs =
      uploadMiB > 0 ? static_cast<pellicar::FileDialogs *>(&firmwareFile) : &realDialogs;
  services.listPrinters = [] { return QStringList(); };
  pellicar::TMainWindow window(services, QString());
  pellicar::TForm1 &form = window.Form();
  if (!profile.isEmpty())
    window.OpenProfile(profile);
  if (argc > 2) {
    if (auto *tabs = form.findChild<QTabWidget *>(QStringLiteral("pgcFunction")))
      tabs->setCurrentIndex(QString::fromLocal8Bit(argv[2]).toInt());
  }
  window.show();
  auto find = [&form](const QString &name) { return form.findChild<QWidget *>(name); };
  auto press = [&](const QString &name) {
    if (auto *button = qobject_cast<QAbstractButton *>(find(name)))
      button->click();
  };
  if (!connectTo.isEmpty()) {
    press(QStringLiteral("rgPortItem2"));
    qobject_cast<QLineEdit *>(find(QStringLiteral("edtETHIP")))
        ->setText(connectTo.section(QLatin1Char(':'), 0, 0));
    qobject_cast<QLineEdit *>(find(QStringLiteral("edtETHPort")))
        ->setText(connectTo.section(QLatin1Char(':'), 1));
    press(QStringLiteral("btnConnect"));
  }
  if (uploadMiB > 0)
    clicks << QStringLiteral("btnChoseFW") << QStringLiteral("btnUpdateFW");

  const QString out = QString::fromLocal8Bit(argv[1]);
  int status = 1;
  QTimer watch;
  auto take = [&] {
    watch.stop();
    if (menu.isEmpty()) {
      status = window.grab().save(out) ? 0 : 1;
    } else {
      // The open menu is a window of its own: the screen where both are.
      const QRect area = window.frameGeometry();
      status =
          window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(out)
              ? 0
              : 1;
    }
    app.quit();
  };
  QTimer::singleShot(400, &form, [&] {
    for (const QString &name : clicks)
      press(name);
    QMenu *open = menu == QLatin1String("Printer") ? window.Menu().PrinterMenu()
                  : menu.isEmpty()                 ? nullptr
                                                   : window.Menu().FileMenu();
    if (open != nullptr)
      window.Menu().setActiveAction(open->menuAction());
  });
  // An upload is pictured once its bar is well under way, a search once
  // it has ended; anything else when the window has settled.
  if (!findRange.isEmpty()) {
    QTimer::singleShot(400, &form, [&] {
      form.FindPrintersAction()->trigger();
      auto *dialog = form.findChild<pellicar::TFindPrintersDialog *>();
      if (dialog == nullptr) {
        app.quit();
        return;
      }
      dialog->findChild<QLineEdit *>(QStringLiteral("edtFindRange"))
          ->setText(findRange.section(QLatin1Char(':'), 0, 0));
      dialog->findChild<QLineEdit *>(QStringLiteral("edtFindPort"))
          ->setText(findRange.section(QLatin1Char(':'), 1));
      QObject::connect(dialog, &pellicar::TFindPrintersDialog::FindEnded, dialog, [&, dialog] {
        QTimer::singleShot(200, dialog, [&, dialog] {
          status = dialog->grab().save(out) ? 0 : 1;
          app.quit();
        });
      });
      dialog->Find();
    });
    QTimer::singleShot(30000, &form, [&] { app.quit(); });
  } else if (uploadMiB > 0) {
    auto *bar = form.findChild<QProgressBar *>(QStringLiteral("statAllTransfer"));
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (bar != nullptr && bar->isVisible() && bar->value() * 5 >= bar->maximum() * 2)
        take();
    });
    watch.start(20);
    QTimer::singleShot(30000, &form, [&] {
      std::fprintf(stderr, "the upload did not get under way\n");
      app.quit();
    });
  } else {
    QTimer::singleShot(700, &form, take);
  }
  app.exec();
  return status;
}
