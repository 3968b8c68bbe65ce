#include "app/application.h"
#include "app/file_dialogs.h"
#include "app/main_form.h"
#include "app/message_box.h"
#include "app/start_options.h"
#include "channels/client_socket.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

int main(int argc, char **argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  if (const std::optional<int> answered = pellicar::AnswerStartOptions(arguments))
    return *answered;

  pellicar::QtMessageBoxes boxes;
  pellicar::QtFileDialogs fileDialogs;
  pellicar::TApplication app(argc, argv, boxes);
  if (const std::optional<int> refused = pellicar::RefuseLeftoverArguments(app.arguments().mid(1)))
    return *refused;

  int status = 0;
  {
    pellicar::FormServices services;
    services.boxes = &boxes;
    services.fileDialogs = &fileDialogs;
    pellicar::TForm1 form(services);
    form.move(491, 157);
    form.show();
    status = app.exec();
  }
  // A connection closed with the window still hands its last bytes to the
  // printer and waits for the printer's side to close (about a second at
  // most), so that nothing sent before the close is lost.
  QDeadlineTimer deadline(1500);
  while (pellicar::TClientSocket::ClosingConnections() > 0 && !deadline.hasExpired()) {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return status;
}
