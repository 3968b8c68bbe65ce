#include "cli/interrupt.h"

#include <QProcess>
#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace pellicar {

namespace {

constexpr std::array kSignals = {SIGINT, SIGTERM, SIGHUP};

int wakePipe[2] = {-1, -1};
std::atomic<bool> interruptFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read and written in a signal handler");

// Async-signal-safe: a write to a non-blocking pipe; a full pipe already
// holds a wake-up.
void OnSignalToPipe(int signal) {
  const char byte = char(signal);
  [[maybe_unused]] const auto written = ::write(wakePipe[1], &byte, 1);
}

void OnSignalToFlag(int) { interruptFlag.store(true); }

void Install(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : kSignals)
    sigaction(signal, &action, nullptr);
}

} // namespace

TInterruptWatch::TInterruptWatch(QObject *parent) : QObject(parent) {
  if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return; // no watch: the signals keep ending the program
  notifier_ = std::make_unique<QSocketNotifier>(wakePipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TInterruptWatch::onByte);
  Install(OnSignalToPipe);
}

TInterruptWatch::~TInterruptWatch() {
  if (!notifier_)
    return;
  Install(SIG_DFL);
  notifier_.reset();
  ::close(wakePipe[0]);
  ::close(wakePipe[1]);
  wakePipe[0] = wakePipe[1] = -1;
}

void TInterruptWatch::onByte() {
  char bytes[16];
  while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
  }
  if (interrupted_)
    return;
  interrupted_ = true;
  // The next signal ends the program.
  Install(SIG_DFL);
  emit interrupted();
}

void CatchInterruptAsFlag() { Install(OnSignalToFlag); }

bool InterruptRequested() { return interruptFlag.load(); }

void StartInOwnProcessGroup(QProcess &process) {
  process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void InterruptChild(QProcess &process) {
  if (process.processId() > 0)
    ::kill(pid_t(process.processId()), SIGINT);
}

} // namespace pellicar
