#include "printer/stream_channel.h"

#include "emulation/virtual_printer.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace pellicar {

namespace {

QString What(StreamChannel::Kind kind) {
  return kind == StreamChannel::Kind::Connection ? QStringLiteral("Connection")
                                                 : QStringLiteral("Serial line");
}

} // namespace

StreamChannel::StreamChannel(int fd, Kind kind, VirtualPrinter &printer, const ReadFaults &faults,
                             QObject *parent)
    : QObject(parent), fd_(fd), kind_(kind), printer_(printer), faults_(faults), decoder_(printer) {
  lastCommand_.start();
  reader_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  connect(reader_.get(), &QSocketNotifier::activated, this, &StreamChannel::readable);
  writer_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
  writer_->setEnabled(false);
  connect(writer_.get(), &QSocketNotifier::activated, this, &StreamChannel::writable);
  delay_.setSingleShot(true);
  connect(&delay_, &QTimer::timeout, this, [this] {
    if (reader_)
      reader_->setEnabled(true);
  });
  // A count of 0 acts before the first byte, once the owner is connected.
  if (faults_.stopReadingAfter == 0 || faults_.resetAfter == 0) {
    reader_->setEnabled(false);
    QTimer::singleShot(0, this, [this] { applyFaults(); });
  }
}

StreamChannel::~StreamChannel() {
  reader_.reset();
  writer_.reset();
  if (fd_ >= 0)
    ::close(fd_);
}

void StreamChannel::note(const QString &text) {
  if (onNote)
    onNote(text);
}

void StreamChannel::readable() {
  qint64 limit = faults_.readDelayMs > 0 ? kSlowReadBytes : kReadBytes;
  for (qint64 count : {faults_.stopReadingAfter, faults_.resetAfter})
    if (count >= 0)
      limit = std::min(limit, count - received_);
  char buffer[kReadBytes];
  const ssize_t n = ::read(fd_, buffer, std::size_t(limit));
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
      return;
    note(QStringLiteral("%1 failed: %2").arg(What(kind_), QString::fromLocal8Bit(strerror(errno))));
    end(false);
    return;
  }
  if (n == 0) {
    end(false);
    return;
  }
  received_ += n;
  printer_.onAnswer = [this](const QByteArray &bytes) { answer(bytes); };
  const qint64 commands = printer_.Commands();
  decoder_.Feed(QByteArrayView(buffer, n));
  printer_.onAnswer = nullptr;
  if (printer_.Commands() != commands)
    lastCommand_.restart();
  if (onFed)
    onFed();
  if (applyFaults())
    return;
  if (faults_.readDelayMs > 0) {
    reader_->setEnabled(false);
    delay_.start(faults_.readDelayMs);
  }
}

bool StreamChannel::applyFaults() {
  const QString stream = kind_ == Kind::Connection ? QStringLiteral("the connection")
                                                   : QStringLiteral("the serial line");
  if (faults_.resetAfter >= 0 && received_ >= faults_.resetAfter) {
    note(QStringLiteral("%1 after %2 bytes (--reset-after)")
             .arg(kind_ == Kind::Connection ? QStringLiteral("Reset the connection")
                                            : QStringLiteral("Hung up the serial line"),
                  GroupedNumber(received_)));
    end(true);
    return true;
  }
  if (faults_.stopReadingAfter >= 0 && received_ >= faults_.stopReadingAfter) {
    note(QStringLiteral("Stopped reading %1 after %2 bytes (--stop-reading-after)")
             .arg(stream, GroupedNumber(received_)));
    reader_->setEnabled(false);
    delay_.stop();
    return true;
  }
  return false;
}

void StreamChannel::answer(const QByteArray &bytes) {
  if (!backlog_.isEmpty()) {
    if (backlog_.size() + bytes.size() > kMaxAnswerBacklog) {
      if (!backlogOverflowed_)
        note(QStringLiteral("Answers dropped: the other side reads none (%1 bytes waiting)")
                 .arg(backlog_.size()));
      backlogOverflowed_ = true;
      return;
    }
    backlog_.append(bytes);
    return;
  }
  backlog_ = bytes;
  writable();
}

void StreamChannel::writable() {
  while (!backlog_.isEmpty() && fd_ >= 0) {
    const ssize_t n =
        kind_ == Kind::Connection
            ? ::send(fd_, backlog_.constData(), std::size_t(backlog_.size()), MSG_NOSIGNAL)
            : ::write(fd_, backlog_.constData(), std::size_t(backlog_.size()));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        backlog_.clear(); // the stream is going; its end is seen by reading
      break;
    }
    backlog_.remove(0, n);
  }
  if (writer_)
    writer_->setEnabled(!backlog_.isEmpty());
}

void StreamChannel::end(bool reset) {
  if (fd_ < 0)
    return;
  decoder_.EndOfStream();
  if (onFed)
    onFed();
  reader_.reset();
  writer_.reset();
  delay_.stop();
  if (reset && kind_ == Kind::Connection) {
    const linger abort{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  ::close(fd_);
  fd_ = -1;
  emit finished();
}

} // namespace pellicar
