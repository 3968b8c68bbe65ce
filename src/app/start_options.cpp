#include "app/start_options.h"

#include <cstdio>

namespace pellicar {

namespace {

void Write(std::FILE *stream, const QString &text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
  std::fflush(stream);
}

} // namespace

QString WindowUsage() {
  return QStringLiteral(R"(Usage: pellicar [OPTIONS]

Opens the window with which a receipt printer is set up: the channel to the
printer ("Driver" for a raw job on a print queue, "COM Port" for a serial
port, "Ethernet" for a TCP connection to the printer's network port) and
the printer's settings on five tabs (Base, Ethernet, WIFI, BlackMark,
Download). Every start begins with the window's defaults; nothing is
stored between runs.

  --serial-port PATH    offer PATH in the "COM Port" list too, e.g. the
                        pseudo terminal of pellicar-printer --pty (the list
                        shows the machine's serial ports and the stable
                        names in /dev/serial/by-id); may be given again
  --help                this help, without opening the window
  --version             the version, without opening the window

The toolkit's own options, such as -platform NAME or -display DISPLAY, are
taken as well. The command-line tool pellicar-cli sends every setting of
the window from a shell.

Exit status: 0 when the window was closed, 2 for an argument the window
does not know or an option without its value.
)");
}

std::optional<int> AnswerStartOptions(const QStringList &arguments) {
  for (const QString &argument : arguments) {
    if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
      Write(stdout, WindowUsage());
      return 0;
    }
    if (argument == QLatin1String("--version")) {
      Write(stdout, QStringLiteral("pellicar " PELLICAR_VERSION "\n"));
      return 0;
    }
  }
  return std::nullopt;
}

std::optional<QStringList> TakeSerialPortOptions(QStringList &arguments) {
  QStringList ports;
  for (qsizetype i = 0; i < arguments.size();) {
    if (arguments[i] != QLatin1String("--serial-port")) {
      ++i;
      continue;
    }
    if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
      Write(stderr, QStringLiteral("pellicar: --serial-port needs a device path.\n"
                                   "Try 'pellicar --help'.\n"));
      return std::nullopt;
    }
    ports << arguments[i + 1];
    arguments.remove(i, 2);
  }
  return ports;
}

std::optional<int> RefuseLeftoverArguments(const QStringList &arguments) {
  if (arguments.isEmpty())
    return std::nullopt;
  Write(stderr, QStringLiteral("pellicar: unknown argument '%1'.\nTry 'pellicar --help'.\n")
                    .arg(arguments.first()));
  return 2;
}

} // namespace pellicar
