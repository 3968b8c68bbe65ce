// A private print server for trying the program by hand, without a
// printer: one raw queue whose jobs go to a pellicar-printer on 127.0.0.1,
// whose log is shown here as the jobs arrive. Started by
// scripts/cups-sandbox; Ctrl-C stops the printer and the server and
// removes the server's folder.
//
//   pellicar-cups-sandbox [QUEUE] [PRINTER OPTIONS...]
//
// QUEUE defaults to "receipt"; the printer options (--out DIR, --state
// FILE, --status ...) are handed to pellicar-printer.

#include "support/private_cups.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

// How long the printer may take to say which port it listens on.
constexpr int kPrinterStartMs = 10000;

void onSignal(int) {
  const char byte = 0;
  [[maybe_unused]] const auto written = write(stopPipe[1], &byte, 1);
}

void print(const QByteArray &bytes) {
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
  std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  QStringList arguments = app.arguments().mid(1);
  QString queue = QStringLiteral("receipt");
  if (!arguments.isEmpty() && !arguments.front().startsWith(QLatin1String("--")))
    queue = arguments.takeFirst();

  if (pipe(stopPipe) != 0)
    return 1;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);

  QProcess printer;
  printer.setProgram(QStringLiteral(PELLICAR_PRINTER_PATH));
  printer.setArguments(QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0")} +
                       arguments);
  printer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  printer.start();
  if (!printer.waitForReadyRead(kPrinterStartMs) || !printer.canReadLine()) {
    printer.waitForFinished(kPrinterStartMs);
    std::fprintf(stderr, "cups-sandbox: pellicar-printer did not start\n");
    return 1;
  }
  const QByteArray first = printer.readLine().trimmed();
  const quint16 port = quint16(first.mid(first.lastIndexOf(':') + 1).toUInt());
  const auto stopPrinter = [&printer] {
    printer.terminate();
    if (!printer.waitForFinished(5000))
      printer.kill();
  };

  pellicar::test::PrivateCups cups;
  if (cups.Start() != pellicar::test::PrivateCups::Status::Running) {
    std::fprintf(stderr, "cups-sandbox: %s\n", qPrintable(cups.Message()));
    stopPrinter();
    return 1;
  }
  QString error;
  if (port == 0 || !cups.AddRawQueue(queue, port, &error)) {
    std::fprintf(stderr, "cups-sandbox: cannot add the queue: %s\n", qPrintable(error));
    stopPrinter();
    return 1;
  }

  print(QStringLiteral("Private print server running in %1.\n"
                       "Queue \"%2\" delivers its jobs to pellicar-printer on 127.0.0.1:%3.\n"
                       "Start the window against it from another terminal:\n"
                       "\n"
                       "CUPS_SERVER=%4 make run\n"
                       "\n"
                       "(or CUPS_SERVER=... build/src/app/pellicar). The printer's log follows; "
                       "Ctrl-C stops the server.\n\n")
            .arg(cups.Folder(), queue)
            .arg(port)
            .arg(cups.Server())
            .toUtf8());

  QObject::connect(&printer, &QProcess::readyReadStandardOutput,
                   [&printer] { print(printer.readAllStandardOutput()); });
  QObject::connect(&printer, &QProcess::finished, &app, &QCoreApplication::quit);
  QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
  app.exec();

  cups.Stop();
  stopPrinter();
  print(printer.readAllStandardOutput());
  std::printf("Stopped.\n");
  return 0;
}
