// pellicar-printer: a virtual receipt printer for trying the window and
// pellicar-cli without a printer. See PrinterUsage() for the options.

#include "printer/printer_options.h"
#include "printer/printer_server.h"
#include "printer/sample_firmware.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 0;
  [[maybe_unused]] const auto written = ::write(stopPipe[1], &byte, 1);
}

void Print(std::FILE *stream, const QString &text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

// Qt's own messages, on standard error with the program's name. The one
// about a missing runtime folder is dropped: the pictures are drawn
// offscreen, and nothing uses that folder.
void OnQtMessage(QtMsgType type, const QMessageLogContext &, const QString &message) {
  if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths:")))
    return;
  Print(stderr, QStringLiteral("pellicar-printer: %1\n").arg(message));
  if (type == QtFatalMsg)
    std::abort();
}

} // namespace

int main(int argc, char **argv) {
  using namespace pellicar;
  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << QString::fromLocal8Bit(argv[i]);
  QString error;
  const auto options = ParsePrinterOptions(arguments, &error);
  if (!options) {
    Print(stderr,
          QStringLiteral("pellicar-printer: %1\nTry 'pellicar-printer --help'.\n").arg(error));
    return 2;
  }
  if (options->help) {
    Print(stdout, PrinterUsage());
    return 0;
  }
  const QString identity = QStringLiteral("pellicar-printer " PELLICAR_VERSION);
  if (options->version) {
    Print(stdout, identity + QLatin1Char('\n'));
    return 0;
  }

  if (!options->sampleFirmware.isEmpty()) {
    if (!WriteSampleFirmware(options->sampleFirmware, &error)) {
      Print(stderr, QStringLiteral("pellicar-printer: %1\n").arg(error));
      return 1;
    }
    Print(stdout, QStringLiteral("Wrote %1, a sample firmware of %2 bytes that passes the check\n")
                      .arg(options->sampleFirmware)
                      .arg(kSampleFirmwareBytes));
    return 0;
  }

  qInstallMessageHandler(OnQtMessage);
  // Pictures of pages draw text, which needs the GUI application; it never
  // shows anything, so it needs no display either.
  std::unique_ptr<QCoreApplication> app;
  if (!options->outDir.isEmpty()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }

  if (::pipe(stopPipe) != 0)
    return 1;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, app.get(), &QCoreApplication::quit);

  PrinterServer server(*options, QStringLiteral("Pellicar virtual printer " PELLICAR_VERSION));
  QObject::connect(&server, &PrinterServer::idle, app.get(), &QCoreApplication::quit);
  if (!server.Start(&error)) {
    Print(stderr, QStringLiteral("pellicar-printer: %1\n").arg(error));
    return 1;
  }
  return app->exec();
}
