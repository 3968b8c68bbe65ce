#pragma once

#include "support/pty.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <memory>

class QSocketNotifier;

namespace pellicar::test {

// A printer that answers the real-time status requests DLE EOT n (10 04 n)
// with the bytes it is given, over TCP on 127.0.0.1 (one connection at a
// time, as a printer serves them) and over a pseudo terminal. It records
// everything it receives, and it can stay silent, send bytes nobody asked
// for before each answer, and restart: drop the connection, stop
// listening for a while, listen again on the same port.
//
// Main thread; it works while the event loop runs (RunCliProcess spins it).
class StatusResponder {
public:
  StatusResponder();
  ~StatusResponder();
  StatusResponder(const StatusResponder &) = delete;
  StatusResponder &operator=(const StatusResponder &) = delete;

  bool Ok() const { return listener_ >= 0 && line_.Ok(); }
  quint16 Port() const { return port_; }
  // Open this as --serial or --device.
  QString PtyPath() const { return line_.SlavePath(); }

  // The answers to DLE EOT 1, 2, 3, 4.
  void SetAnswers(const std::array<quint8, 4> &answers) { answers_ = answers; }
  // Silent: requests are read and never answered.
  void SetSilent(bool silent) { silent_ = silent; }
  // Sent before every answer.
  void SetUnasked(const QByteArray &bytes) { unasked_ = bytes; }
  // Once a connection has brought `bytes`, the printer closes it and is not listening for `downMs`.
  void RestartAfter(qsizetype bytes, int downMs) {
    restartAfter_ = bytes;
    downMs_ = downMs;
  }

  // Everything received, status requests included, over TCP and the pty.
  const QByteArray &Received() const { return received_; }
  int Connections() const { return connections_; }
  int Restarts() const { return restarts_; }

private:
  void Listen();
  void Accept();
  void ReadConnection();
  void CloseConnection();
  // Looks at what arrived and answers the requests in it through `reply`.
  void Take(const QByteArray &piece, QByteArray &pending,
            const std::function<void(QByteArray)> &reply);

  int listener_ = -1;
  int connection_ = -1;
  quint16 port_ = 0;
  std::unique_ptr<QSocketNotifier> listening_;
  std::unique_ptr<QSocketNotifier> reading_;
  TPseudoTerminal line_;

  std::array<quint8, 4> answers_ = {0x12, 0x12, 0x12, 0x12};
  bool silent_ = false;
  QByteArray unasked_;
  qsizetype restartAfter_ = -1;
  int downMs_ = 0;

  QByteArray received_;
  QByteArray tcpPending_; // a request split over two reads
  QByteArray ptyPending_;
  qsizetype dataOnConnection_ = 0;
  int connections_ = 0;
  int restarts_ = 0;
};

} // namespace pellicar::test
