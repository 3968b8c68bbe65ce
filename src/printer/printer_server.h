#pragma once

#include "emulation/virtual_printer.h"
#include "printer/printer_options.h"
#include "printer/pseudo_terminal.h"
#include "printer/stream_channel.h"
#include "printer/tcp_listener.h"

#include <QObject>
#include <QPointer>

namespace pellicar {

// The virtual printer program: one printer behind a TCP port (connections
// served one after another, as a printer does) and a pseudo terminal, its
// log on standard output, its state file and its pictures. A log line is
// printed once the state file holds what it tells. Main thread.
class PrinterServer : public QObject {
  Q_OBJECT
public:
  PrinterServer(const PrinterOptions &options, const QString &identity, QObject *parent = nullptr);
  ~PrinterServer() override;

  // Opens the channels, prints "Listening on ADDRESS:PORT" and
  // "Serial port: PATH", writes the first state. False, with the reason in
  // `error`, when a channel or the output folder cannot be had.
  bool Start(QString *error);

signals:
  // No channel is left to serve (the serial line hung up and there is no
  // TCP port).
  void idle();

private:
  void log(const QString &line);
  void problem(const QString &line);
  void writeState();
  void writePicture(const QString &name, const QImage &picture);
  void serveNext();
  StreamChannel *makeChannel(int fd, StreamChannel::Kind kind);
  // --take-ip: moves the TCP port to the address of the last IP command.
  void takeNewAddress();

  PrinterOptions options_;
  VirtualPrinter printer_;
  TcpListener listener_;
  PseudoTerminal terminal_;
  QPointer<StreamChannel> connection_;
  QPointer<StreamChannel> serialLine_;
  QString ignoredIp_; // an IP command's address that --take-ip did not take
  QStringList pendingLines_;
  bool stateFailed_ = false;
};

} // namespace pellicar
