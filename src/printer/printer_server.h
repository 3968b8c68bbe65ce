#pragma once

#include "emulation/virtual_printer.h"
#include "printer/log_output.h"
#include "printer/output_folder.h"
#include "printer/printer_options.h"
#include "printer/pseudo_terminal.h"
#include "printer/stream_channel.h"
#include "printer/tcp_listener.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace pellicar {

// The virtual printer program: one printer behind a TCP port (connections
// served one after another, as a printer does) and a pseudo terminal, its
// log on standard output, its state file and its pictures. A log line is
// printed once the state file holds what it tells.
//
// As a service it stays safe against the people on the same machine: its
// files are written without following links (OutputFolder), its log never
// blocks it (LogOutput) and is bounded in rate, its pictures in number,
// and a connection that holds the printer without sending commands while
// another waits is closed after the hold limit. Main thread.
class PrinterServer : public QObject {
  Q_OBJECT
public:
  // Log lines written at once before the rate bound applies, and the rate
  // after that: a burst covers any real set-up, the rate keeps a flood of
  // tiny commands from writing megabytes of log.
  static constexpr double kLogBurstLines = 200;
  static constexpr double kLogLinesPerSecond = 50;

  PrinterServer(const PrinterOptions &options, const QString &identity, QObject *parent = nullptr);
  ~PrinterServer() override;

  // Opens the channels, prints "Listening on ADDRESS:PORT" and
  // "Serial port: PATH", writes the first state. False, with the reason in
  // `error`, when a channel, the output folder or the state file cannot be
  // had.
  bool Start(QString *error);

signals:
  // No channel is left to serve (the serial line hung up and there is no
  // TCP port).
  void idle();

private:
  void log(const QString &line);
  void sayLeftOut();
  void problem(const QString &line);
  void writeState();
  void writePicture(const QString &name, const QImage &picture);
  void serveNext();
  void checkHold();
  StreamChannel *makeChannel(int fd, StreamChannel::Kind kind);
  // --take-ip: moves the TCP port to the address of the last IP command.
  void takeNewAddress();

  PrinterOptions options_;
  LogOutput out_;
  LogOutput errors_;
  VirtualPrinter printer_;
  TcpListener listener_;
  PseudoTerminal terminal_;
  OutputFolder pictures_;
  OutputFolder stateFolder_;
  QString stateName_;
  QPointer<StreamChannel> connection_;
  QString peer_;
  QPointer<StreamChannel> serialLine_;
  QString ignoredIp_; // an IP command's address that --take-ip did not take
  QStringList pendingLines_;
  bool stateFailed_ = false;
  // The connection being served while another waits.
  QTimer hold_;
  // The log's rate bound.
  double logTokens_ = kLogBurstLines;
  QElapsedTimer logClock_;
  qint64 leftOut_ = 0;
  QTimer leftOutNote_;
};

} // namespace pellicar
