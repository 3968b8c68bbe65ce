#include "printer/printer_options.h"

#include "printer/tcp_listener.h"

#include <limits>

namespace pellicar {

namespace {

std::optional<qint64> Number(const QString &text, qint64 low, qint64 high) {
  bool ok = false;
  const qint64 value = text.toLongLong(&ok);
  if (!ok || value < low || value > high)
    return std::nullopt;
  return value;
}

// [ADDRESS:]PORT, ADDRESS numeric (IPv6 in brackets).
bool ParseTcp(const QString &text, PrinterOptions &options) {
  QString address = options.tcpAddress;
  QString port = text;
  if (text.startsWith(QLatin1Char('['))) {
    const qsizetype close = text.indexOf(QStringLiteral("]:"));
    if (close < 0)
      return false;
    address = text.mid(1, close - 1);
    port = text.mid(close + 2);
  } else if (const qsizetype colon = text.lastIndexOf(QLatin1Char(':')); colon >= 0) {
    address = text.left(colon);
    port = text.mid(colon + 1);
  }
  const auto value = Number(port, 0, 65535);
  if (!value || !IsNumericAddress(address))
    return false;
  options.tcpAddress = address;
  options.tcpPort = quint16(*value);
  return true;
}

} // namespace

std::optional<PrinterOptions> ParsePrinterOptions(const QStringList &arguments, QString *error) {
  PrinterOptions options;
  const auto fail = [&](const QString &why) {
    *error = why;
    return std::nullopt;
  };
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString &name = arguments[i];
    const auto value = [&]() -> std::optional<QString> {
      if (i + 1 >= arguments.size())
        return std::nullopt;
      return arguments[++i];
    };
    const auto bytes = [&](qint64 &target) -> bool {
      const auto text = value();
      const auto number =
          text ? Number(*text, 0, std::numeric_limits<qint64>::max()) : std::nullopt;
      if (number)
        target = *number;
      return bool(number);
    };
    if (name == QLatin1String("--tcp")) {
      const auto text = value();
      if (!text || !ParseTcp(*text, options))
        return fail(QStringLiteral("--tcp needs [ADDRESS:]PORT, a numeric address and a port "
                                   "from 0 to 65535"));
      options.tcp = true;
    } else if (name == QLatin1String("--pty")) {
      options.pty = true;
    } else if (name == QLatin1String("--state")) {
      const auto text = value();
      if (!text || text->isEmpty())
        return fail(QStringLiteral("--state needs a file name"));
      options.stateFile = *text;
    } else if (name == QLatin1String("--out")) {
      const auto text = value();
      if (!text || text->isEmpty())
        return fail(QStringLiteral("--out needs a folder"));
      options.outDir = *text;
    } else if (name == QLatin1String("--status")) {
      const auto text = value();
      const auto status = text ? ParsePrinterStatus(*text) : std::nullopt;
      if (!status)
        return fail(QStringLiteral(
            "--status needs one of ready, offline, cover-open, paper-near-end, paper-out"));
      options.status = *status;
    } else if (name == QLatin1String("--hold-limit")) {
      const auto text = value();
      const auto limit = text ? Number(*text, 1, kMaxHoldLimitS) : std::nullopt;
      if (!limit)
        return fail(QStringLiteral("--hold-limit needs seconds from 1 to %1").arg(kMaxHoldLimitS));
      options.holdLimitS = int(*limit);
    } else if (name == QLatin1String("--read-delay")) {
      const auto text = value();
      const auto delay = text ? Number(*text, 0, kMaxReadDelayMs) : std::nullopt;
      if (!delay)
        return fail(
            QStringLiteral("--read-delay needs milliseconds from 0 to %1").arg(kMaxReadDelayMs));
      options.readDelayMs = int(*delay);
    } else if (name == QLatin1String("--stop-reading-after")) {
      if (!bytes(options.stopReadingAfter))
        return fail(QStringLiteral("--stop-reading-after needs a number of bytes"));
    } else if (name == QLatin1String("--reset-after")) {
      if (!bytes(options.resetAfter))
        return fail(QStringLiteral("--reset-after needs a number of bytes"));
    } else if (name == QLatin1String("--take-ip")) {
      options.takeIp = true;
    } else if (name == QLatin1String("--write-sample-firmware")) {
      const auto text = value();
      if (!text || text->isEmpty())
        return fail(QStringLiteral("--write-sample-firmware needs a file name"));
      options.sampleFirmware = *text;
    } else if (name == QLatin1String("--quiet")) {
      options.quiet = true;
    } else if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
      options.help = true;
    } else if (name == QLatin1String("--version")) {
      options.version = true;
    } else {
      return fail(QStringLiteral("unknown option '%1'").arg(name));
    }
  }
  if (!options.tcp && !options.pty)
    options.tcp = true;
  return options;
}

QString PrinterUsage() {
  return QStringLiteral(
      R"(Usage: pellicar-printer [OPTIONS]

A virtual receipt printer, for trying the window and pellicar-cli without a
printer. It decodes everything they send, logs one line for each command on
standard output, keeps the printer's state and answers status requests
(DLE EOT n) as a printer does.

Channels (without either: --tcp 127.0.0.1:9100):
  --tcp [ADDRESS:]PORT  listen on PORT at ADDRESS (a numeric address,
                        127.0.0.1 when none is given); port 0 picks a free
                        one. The first line printed is "Listening on
                        ADDRESS:PORT". Connections are served one after
                        another: while one is open (the window keeps its
                        connection until "Disconnect"), the next one waits.
  --hold-limit SECONDS  while another connection waits, close the one being
                        served once it has gone SECONDS without a complete
                        command (1 to 60) [30]
  --pty                 open a pseudo terminal to use as a serial port
                        (pellicar-cli --serial PATH); prints
                        "Serial port: PATH"
  --take-ip             take the address of an IP command as a printer does
                        when it restarts: once the TCP connection closes,
                        listen at the new address (same port) and print
                        "Listening on ADDRESS:PORT" again. Only loopback
                        addresses (127.x.x.x) are taken; another is logged
                        and the printer stays where it is.

Output:
  --state FILE          rewrite FILE after every command, as JSON: base,
                        ethernet, wifi, blackMark, logos, firmware, counters
  --out DIR             write each stored logo as logo-N.png and each printed
                        page (self-test, text ended by a form feed or a cut)
                        as page-N.png; the last 50 pages are kept. Files are
                        replaced, never written through: a link in DIR is
                        replaced by the file. A --state FILE that is a link
                        is refused.
  --quiet               no log lines (the listening address and the serial
                        port are still printed)

The log shows received text with control bytes and bytes that are not
UTF-8 as \xNN. It never holds the printer up: lines its reader does not take
in time are dropped (and counted), and beyond a burst of 200 lines at most
50 lines a second are written (those left out are counted as well).

  --status ready|offline|cover-open|paper-near-end|paper-out
                        the condition status requests report [ready]

Faults, for tests and demonstrations:
  --read-delay MS       read at most 4096 bytes at a time, MS milliseconds
                        apart (at most 60000)
  --stop-reading-after BYTES
                        stop reading a connection (the serial line) after
                        BYTES bytes
  --reset-after BYTES   close a connection with a reset after BYTES bytes
                        (the serial line: hang up; without --tcp the
                        program then ends)

Without a printer's firmware:
  --write-sample-firmware FILE
                        write a small firmware file that passes the check
                        (pellicar-cli check-firmware), to try the upload
                        with, and end

  --help                this help
  --version             the version

Ctrl-C stops it and removes its pseudo terminal.
Exit status: 0 stopped, 1 could not start, 2 bad usage.
)");
}

} // namespace pellicar
