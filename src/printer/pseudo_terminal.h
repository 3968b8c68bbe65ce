#pragma once

#include <QString>

namespace pellicar {

// A pseudo terminal standing in for the printer's serial port: the program
// reads and answers on the master side; the slave's path is what a
// serial program opens. It holds a descriptor of the slave itself, so that
// the line stays up while no program has it open, and sets the slave raw
// (no echo, no line editing) until a program sets it otherwise. Closing
// removes the device. Main thread.
class PseudoTerminal {
public:
  PseudoTerminal() = default;
  ~PseudoTerminal() { Close(); }
  PseudoTerminal(const PseudoTerminal &) = delete;
  PseudoTerminal &operator=(const PseudoTerminal &) = delete;

  // False, with the reason in `error`, when no pseudo terminal can be had.
  bool Open(QString *error);
  void Close();

  // Non-blocking; -1 when closed.
  int MasterFd() const { return master_; }
  const QString &SlavePath() const { return slavePath_; }

  // Gives up the master descriptor to its new owner, which closes it; the
  // line is gone once both it and Close() have run.
  int TakeMaster();

private:
  int master_ = -1;
  int slave_ = -1;
  QString slavePath_;
};

} // namespace pellicar
