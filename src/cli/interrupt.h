#pragma once

#include <QObject>

#include <memory>

class QProcess;
class QSocketNotifier;

namespace pellicar {

// Ctrl-C (SIGINT), SIGTERM and SIGHUP, turned from a signal into a Qt
// signal on the main thread: the handler only writes a byte to a pipe,
// which a socket notifier watches, so nothing unsafe runs inside it. While
// one exists, the first such signal emits interrupted() and the next one
// ends the program as the system would (a second Ctrl-C stops at once).
// One at a time; main thread.
class TInterruptWatch : public QObject {
  Q_OBJECT
public:
  explicit TInterruptWatch(QObject *parent = nullptr);
  ~TInterruptWatch() override; // restores the handlers it replaced

  bool Interrupted() const { return interrupted_; }

signals:
  void interrupted();

private:
  void onByte();

  std::unique_ptr<QSocketNotifier> notifier_;
  bool interrupted_ = false;
};

// For a process that checks by itself between steps: from now on, SIGINT,
// SIGTERM and SIGHUP only set the flag InterruptRequested() reads.
void CatchInterruptAsFlag();
bool InterruptRequested();

// Starts `process` in a process group of its own, so that a Ctrl-C typed
// at the terminal reaches only this program, which then decides what its
// children do.
void StartInOwnProcessGroup(QProcess &process);

// Sends the child the interrupt (SIGINT): it ends its current step and
// stops.
void InterruptChild(QProcess &process);

} // namespace pellicar
