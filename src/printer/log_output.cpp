#include "printer/log_output.h"

#include <QByteArray>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include <unistd.h>

namespace pellicar {

struct LogOutput::Shared {
  int fd = -1;
  std::mutex mutex;
  std::condition_variable wake; // work for the thread, or stop
  std::condition_variable done; // the thread has ended
  QByteArray waiting;
  qint64 dropped = 0;
  bool stop = false;
  bool ended = false;
  bool broken = false; // the reader is gone (EPIPE and the like): write no more
};

namespace {

void WriteAll(int fd, const QByteArray &bytes, bool &broken) {
  qsizetype at = 0;
  while (at < bytes.size() && !broken) {
    const ssize_t n = ::write(fd, bytes.constData() + at, std::size_t(bytes.size() - at));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      broken = true;
      break;
    }
    at += n;
  }
}

} // namespace

LogOutput::LogOutput(int fd) : shared_(std::make_shared<Shared>()) {
  shared_->fd = fd;
  // The thread holds its own reference: after a Finish() that timed out it
  // may outlive this object, blocked in a write.
  std::thread([shared = shared_] {
    std::unique_lock lock(shared->mutex);
    for (;;) {
      shared->wake.wait(lock, [&] { return shared->stop || !shared->waiting.isEmpty(); });
      if (shared->waiting.isEmpty())
        break;
      QByteArray bytes = std::exchange(shared->waiting, {});
      bool broken = shared->broken;
      lock.unlock();
      WriteAll(shared->fd, bytes, broken);
      lock.lock();
      shared->broken = broken;
      if (shared->waiting.isEmpty() && shared->dropped > 0 && !broken) {
        shared->waiting =
            QByteArrayLiteral("(") + QByteArray::number(shared->dropped) +
            QByteArrayLiteral(" lines dropped here: the output was not being read)\n");
        shared->dropped = 0;
      }
    }
    shared->ended = true;
    shared->done.notify_all();
  }).detach();
}

LogOutput::~LogOutput() { Finish(kFinishMs); }

void LogOutput::Line(const QString &line) {
  const QByteArray bytes = line.toUtf8() + '\n';
  std::lock_guard lock(shared_->mutex);
  if (shared_->stop || shared_->broken)
    return;
  if (shared_->waiting.size() + bytes.size() > kMaxWaitingBytes) {
    ++shared_->dropped;
    return;
  }
  shared_->waiting += bytes;
  shared_->wake.notify_one();
}

bool LogOutput::Finish(int ms) {
  std::unique_lock lock(shared_->mutex);
  shared_->stop = true;
  shared_->wake.notify_one();
  if (shared_->done.wait_for(lock, std::chrono::milliseconds(ms), [&] { return shared_->ended; }))
    return true;
  shared_->waiting.clear();
  return false;
}

} // namespace pellicar
