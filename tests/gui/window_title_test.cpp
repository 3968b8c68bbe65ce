// The titles the window system shows. Qt can add to a window's title on
// its way to the window system (the application's display name), which
// QWidget::windowTitle() does not show; so the window runs here on a
// private X server (Xvfb) and each window's _NET_WM_NAME, the title a window
// manager draws, is read back from the server.

#include "app/application.h"
#include "app/error_handler.h"
#include "app/main_form.h"
#include "app/message_box.h"
#include "support/recording_dialogs.h"
#include "support/wait.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellicar {
namespace {

// Why the X server could not be had, or empty when it runs.
QString g_noDisplay;

xcb_atom_t Atom(xcb_connection_t *connection, const char *name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name);
  xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

// The title the X server holds for `window`.
QString NetWmName(QWindow *window) {
  auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || window == nullptr)
    return QStringLiteral("<no X11 window>");
  xcb_connection_t *connection = x11->connection();
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, xcb_window_t(window->winId()),
                       Atom(connection, "_NET_WM_NAME"), Atom(connection, "UTF8_STRING"), 0, 1024);
  xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, nullptr);
  QString title = QStringLiteral("<no _NET_WM_NAME>");
  if (reply != nullptr && reply->format == 8)
    title = QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply)),
                              xcb_get_property_value_length(reply));
  std::free(reply);
  return title;
}

class WindowTitleTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!g_noDisplay.isEmpty())
      GTEST_SKIP() << g_noDisplay.toStdString();
  }
};

TEST_F(WindowTitleTest, MainWindowAndEveryBoxCarryTheirCaptionAlone) {
  test::RecordingMessageBoxes recording;
  test::ScriptedFileDialogs files;
  FormServices services;
  services.boxes = &recording;
  services.fileDialogs = &files;
  services.listPrinters = [] { return QStringList(); };
  TForm1 form(services);
  form.show();
  ASSERT_TRUE(test::WaitUntil([&] { return form.windowHandle() != nullptr; }));
  EXPECT_EQ(NetWmName(form.windowHandle()).toStdString(), "Pellicar  V1.83  Beta");

  // The real boxes: those of the actions, owned by the window, and the
  // top-level error box, captioned with the application's title.
  const struct {
    const char *caption;
    QWidget *owner;
  } cases[] = {{"Error", &form},
               {"Error!", &form},
               {"Download LOGO", &form},
               {"Update", &form},
               {"Pellicar", nullptr}};
  QtMessageBoxes boxes;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.caption);
    QString shown;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
      QWidget *box = QApplication::activeModalWidget();
      if (box == nullptr || box->windowHandle() == nullptr || !box->windowHandle()->isExposed())
        return;
      probe.stop();
      shown = NetWmName(box->windowHandle());
      box->close();
    });
    probe.start(10);
    QTimer::singleShot(10000, &probe, [&] {
      if (QWidget *box = QApplication::activeModalWidget())
        box->close(); // never wait for a hand that is not there
    });
    boxes.Show(c.owner, {QStringLiteral("Text"), QString::fromUtf8(c.caption), MsgIcon::Error});
    EXPECT_EQ(shown.toStdString(), c.caption);
  }
}

} // namespace
} // namespace pellicar

// Starts a private X server for the test's lifetime: Xvfb picks a free
// display and writes its number to our pipe. Listing the tests needs none.
int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests))
    return RUN_ALL_TESTS();

  pellicar::g_noDisplay = QStringLiteral("no private X server: Xvfb (package xvfb) did not start");
  pid_t xvfb = -1;
  int pipe[2];
  if (::pipe(pipe) == 0) {
    xvfb = ::fork();
    if (xvfb == 0) {
      ::dup2(pipe[1], 1);
      const int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, 2);
      ::execlp("Xvfb", "Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24",
               static_cast<char *>(nullptr));
      ::_exit(127);
    }
    ::close(pipe[1]);
    // Xvfb answers within about a second; give a loaded machine ten.
    constexpr int kXvfbStartMs = 10000;
    QByteArray display;
    QDeadlineTimer deadline(kXvfbStartMs);
    pollfd wait{pipe[0], POLLIN, 0};
    char chunk[16];
    while (xvfb > 0 && !display.contains('\n') &&
           ::poll(&wait, 1, int(deadline.remainingTime())) > 0) {
      const ssize_t n = ::read(pipe[0], chunk, sizeof chunk);
      if (n <= 0)
        break;
      display.append(chunk, n);
    }
    ::close(pipe[0]);
    if (display.contains('\n')) {
      qputenv("DISPLAY", ":" + display.trimmed());
      pellicar::g_noDisplay.clear();
    }
  }
  qputenv("QT_QPA_PLATFORM", pellicar::g_noDisplay.isEmpty() ? "xcb" : "offscreen");
  int status = 0;
  {
    QApplication app(argc, argv);
    pellicar::SetUpApplication(app);
    status = RUN_ALL_TESTS();
  }
  if (xvfb > 0) {
    ::kill(xvfb, SIGTERM);
    ::waitpid(xvfb, nullptr, 0);
  }
  return status;
}
