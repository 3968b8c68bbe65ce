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
// everything it receives, and it can stay silent, answer what it is told
// (wrong bits too), and send bytes nobody asked for before each answer:
// what pellicar-printer never does.
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
  // Each answer is sent this long after its request arrived.
  void SetAnswerDelay(int ms) { delayMs_ = ms; }

  // Everything received, status requests included, over TCP and the pty.
  const QByteArray &Received() const { return received_; }

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
  int connections_ = 0; // closed so far: tells a late answer's connection
  quint16 port_ = 0;
  std::unique_ptr<QSocketNotifier> listening_;
  std::unique_ptr<QSocketNotifier> reading_;
  TPseudoTerminal line_;

  std::array<quint8, 4> answers_ = {0x12, 0x12, 0x12, 0x12};
  bool silent_ = false;
  QByteArray unasked_;
  int delayMs_ = 0;

  QByteArray received_;
  QByteArray tcpPending_; // a request split over two reads
  QByteArray ptyPending_;
};

} // namespace pellicar::test
