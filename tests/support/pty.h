#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace pellicar::test {

// A pseudo-terminal pair standing in for a serial printer. The program
// under test opens SlavePath() as its serial port; the test holds the
// master side, which is the printer's end of the cable. The helper keeps
// a descriptor of the slave side open itself, so that the master never
// sees a hang-up while the program has the port closed.
//
// Main thread. Bytes the program sends are collected while the Qt event
// loop runs (WaitForReceived spins it).
class TPseudoTerminal {
public:
  TPseudoTerminal();
  ~TPseudoTerminal();
  TPseudoTerminal(const TPseudoTerminal &) = delete;
  TPseudoTerminal &operator=(const TPseudoTerminal &) = delete;

  bool Ok() const { return master_ >= 0; }
  const QString &SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // What the printer side has received so far.
  const QByteArray &Received() const { return received_; }
  void ClearReceived() { received_.clear(); }
  bool WaitForReceived(qsizetype count, int timeoutMs = 5000);
  // Off: the printer stops reading (the line fills up and writes block).
  void SetReading(bool on);
  // On: the line takes nothing more from the program, as a port whose
  // output is held off; its writes block at once, so every byte written is
  // one the printer can read. Off: the line goes again.
  bool HoldOutput(bool on);

  // Writes from the printer's side, all of it; false on an error or after
  // `timeoutMs`.
  bool Send(const QByteArray &bytes, int timeoutMs = 5000);

  // The printer goes away: closes the master side.
  void CloseMaster();

  // The line settings as the slave's tty holds them now. A pseudo
  // terminal always forces 8 data bits and clears the parity switch
  // (PARENB), so neither can be seen here; the parity's kind can.
  struct LineSettings {
    quint32 speed = 0;
    bool oddParity = false;   // PARODD: odd, or mark with stickParity
    bool stickParity = false; // CMSPAR: mark or space
    bool twoStopBits = false;
    bool inputXonXoff = false;  // IXOFF: the port sends XOFF/XON
    bool outputXonXoff = false; // IXON
    bool ctsFlow = false;       // CRTSCTS
    bool parityCheck = false;   // INPCK
    bool raw = false;           // no ICANON, ECHO, ISIG, OPOST
    char xonChar = 0;
    char xoffChar = 0;
  };
  LineSettings Settings() const;
  // Changes the slave's speed and input XON/XOFF behind the program's
  // back, to see whether it re-applies its own.
  bool Tamper(quint32 speed, bool inputXonXoff);

private:
  void Collect();

  int master_ = -1;
  int slave_ = -1;
  QString slavePath_;
  QByteArray received_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace pellicar::test
