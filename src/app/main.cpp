#include "app/application.h"
#include "app/file_dialogs.h"
#include "app/main_form.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/start_options.h"
#include "app/transfer_progress.h"
#include "channels/client_socket.h"

#include <QStandardPaths>

int main(int argc, char **argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  if (const std::optional<int> answered = pellicar::AnswerStartOptions(arguments))
    return *answered;

  pellicar::QtMessageBoxes boxes;
  pellicar::QtFileDialogs fileDialogs;
  pellicar::TApplication app(argc, argv, boxes);
  QStringList left = app.arguments().mid(1);
  const std::optional<QStringList> serialPorts = pellicar::TakeSerialPortOptions(left);
  if (!serialPorts)
    return 2;
  if (const std::optional<int> refused = pellicar::RefuseLeftoverArguments(left))
    return *refused;

  int status = 0;
  {
    pellicar::FormServices services;
    services.boxes = &boxes;
    services.fileDialogs = &fileDialogs;
    services.extraSerialPorts = *serialPorts;
    // Only the list of recent profiles is kept between runs; the controls
    // start with their defaults every time.
    const QString recent = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/pellicar/recent-profiles.ini");
    pellicar::TMainWindow window(services, recent);
    window.move(491, 157);
    window.show();
    status = app.exec();
  }
  // A connection closed with the window still hands what was accepted to
  // the printer for as long as the printer takes it (each close gives up
  // after a few seconds without progress); what it did not get is said.
  const qint64 undelivered = pellicar::TClientSocket::FinishClosingConnections();
  if (undelivered > 0) {
    pellicar::MessageBoxRequest box;
    box.text = QStringLiteral("The printer did not receive the last %1 bytes sent to it: "
                              "it stopped taking data before the program ended.")
                   .arg(pellicar::TTransferProgress::Count(undelivered));
    box.caption = QStringLiteral("Error");
    box.icon = pellicar::MsgIcon::Error;
    boxes.Show(nullptr, box);
  }
  return status;
}
