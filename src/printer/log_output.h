#pragma once

#include <QString>

#include <memory>

namespace pellicar {

// Lines for a standard stream (the log on standard output, problems on
// standard error) written by a thread of their own, so that a reader who
// stops reading never holds up the printer. Up to kMaxWaitingBytes wait for
// the reader; lines beyond that are dropped, and once everything waiting
// has been written a line says how many were dropped.
//
// Line() is called on one thread (the main thread); it never blocks. The
// writing thread sleeps while nothing waits.
class LogOutput {
public:
  // About four times a pipe's own buffer: a reader that is merely slow
  // loses nothing, one that has stopped costs a bounded amount of memory.
  static constexpr qsizetype kMaxWaitingBytes = 256 * 1024;
  // How long Finish() waits, by default, for a reader to take the rest.
  static constexpr int kFinishMs = 2000;

  // Writes to `fd`, which stays open (it is not ours).
  explicit LogOutput(int fd);
  // Finish(kFinishMs).
  ~LogOutput();
  LogOutput(const LogOutput &) = delete;
  LogOutput &operator=(const LogOutput &) = delete;

  // Queues `line` and a line end.
  void Line(const QString &line);

  // Waits up to `ms` for what waits to be written and ends the thread.
  // False when the reader did not take it all in time: the thread is then
  // left blocked in its write, and whatever still waits is given up.
  bool Finish(int ms);

private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

} // namespace pellicar
