#pragma once

#include "emulation/printer_status.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace pellicar {

// What the command line of pellicar-printer asks for.
struct PrinterOptions {
  bool tcp = false;
  QString tcpAddress = QStringLiteral("127.0.0.1"); // numeric only, never looked up
  quint16 tcpPort = 9100;
  bool pty = false;
  QString stateFile; // empty: none
  QString outDir;    // empty: no pictures
  PrinterStatus status = PrinterStatus::Ready;
  int holdLimitS = 30;
  int readDelayMs = 0;
  qint64 stopReadingAfter = -1; // -1: never
  qint64 resetAfter = -1;       // -1: never
  bool quiet = false;
  bool takeIp = false;    // listen at the address of an IP command once its connection closes
  QString sampleFirmware; // non-empty: write a sample firmware file there and end
  bool help = false;
  bool version = false;
};

// The longest --read-delay: a slow reader, not a stopped one (that is
// --stop-reading-after).
inline constexpr int kMaxReadDelayMs = 60000;

// How long a connection may go without a complete command while another
// waits, before it is closed: long enough for a person between two clicks,
// short enough that a second client is not kept waiting for ever.
inline constexpr int kMaxHoldLimitS = 60;

// Parses the arguments (without the program's name). Without --tcp or
// --pty the printer listens on 127.0.0.1:9100. On a mistake returns
// nothing and sets `error` to a one-line reason.
std::optional<PrinterOptions> ParsePrinterOptions(const QStringList &arguments, QString *error);

QString PrinterUsage();

} // namespace pellicar
