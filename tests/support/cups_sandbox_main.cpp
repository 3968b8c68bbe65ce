// A private print server for trying the program by hand, without a
// printer: one raw queue whose jobs go to a byte sink on 127.0.0.1 and are
// shown here as they arrive. Started by scripts/cups-sandbox; Ctrl-C stops
// the server and removes its folder.
//
//   pellicar-cups-sandbox [QUEUE]     (default queue name: receipt)

#include "support/private_cups.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <mutex>

#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 0;
  [[maybe_unused]] const auto written = write(stopPipe[1], &byte, 1);
}

QByteArray hexPreview(const QByteArray &bytes) {
  constexpr int kShown = 48;
  QByteArray text = bytes.left(kShown).toHex(' ');
  if (bytes.size() > kShown)
    text += " ...";
  return text;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const QString queue = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("receipt");

  if (pipe(stopPipe) != 0)
    return 1;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);

  pellicar::test::PrivateCups cups;
  static std::mutex output;
  cups.Sink().onReceived = [](int number, const QByteArray &bytes) {
    std::lock_guard lock(output);
    std::printf("job %d: %lld bytes: %s\n", number + 1, static_cast<long long>(bytes.size()),
                hexPreview(bytes).constData());
    std::fflush(stdout);
  };

  if (cups.Start() != pellicar::test::PrivateCups::Status::Running) {
    std::fprintf(stderr, "cups-sandbox: %s\n", qPrintable(cups.Message()));
    return 1;
  }
  QString error;
  if (!cups.AddRawQueue(queue, 0, &error)) {
    std::fprintf(stderr, "cups-sandbox: cannot add the queue: %s\n", qPrintable(error));
    return 1;
  }

  {
    std::lock_guard lock(output);
    std::printf("Private print server running in %s.\n"
                "Queue \"%s\" delivers its jobs to a byte sink on 127.0.0.1:%u.\n"
                "Start the window against it from another terminal:\n"
                "\n"
                "CUPS_SERVER=%s make run\n"
                "\n"
                "(or CUPS_SERVER=... build/src/app/pellicar). Jobs are shown here as they "
                "arrive; Ctrl-C stops the server.\n",
                qPrintable(cups.Folder()), qPrintable(queue), unsigned(cups.Sink().Port()),
                qPrintable(cups.Server()));
    std::fflush(stdout);
  }

  char byte = 0;
  while (read(stopPipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  cups.Stop();
  std::printf("Stopped.\n");
  return 0;
}
