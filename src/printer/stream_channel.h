#pragma once

#include "emulation/command_decoder.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace pellicar {

class VirtualPrinter;

// Faults a printer can be told to show, for tests and demonstrations.
struct ReadFaults {
  int readDelayMs = 0;          // > 0: a slow reader
  qint64 stopReadingAfter = -1; // >= 0: reads no further after this many bytes
  qint64 resetAfter = -1;       // >= 0: closes with a reset after this many bytes
};

// One stream the printer reads: an accepted TCP connection or the master
// side of its pseudo terminal. It reads as the descriptor becomes readable
// (nothing runs while it is idle), feeds its own decoder, whose commands go
// to the shared printer, and writes the printer's answers back on the same
// stream. Main thread.
class StreamChannel : public QObject {
  Q_OBJECT
public:
  enum class Kind { Connection, SerialLine };

  // The most bytes taken per read; with a read delay, kSlowReadBytes.
  static constexpr qsizetype kReadBytes = 65536;
  static constexpr qsizetype kSlowReadBytes = 4096;
  // Answers waiting for a peer that does not read them; beyond this they
  // are dropped (and said so).
  static constexpr qsizetype kMaxAnswerBacklog = 4096;

  // Takes over `fd` (non-blocking) and starts reading.
  StreamChannel(int fd, Kind kind, VirtualPrinter &printer, const ReadFaults &faults,
                QObject *parent = nullptr);
  ~StreamChannel() override;

  // After every piece fed to the printer (to write its state).
  std::function<void()> onFed;
  // A line for the log that is no command: the stream ended, a fault acted.
  std::function<void(const QString &)> onNote;

  qint64 Received() const { return received_; }
  // Milliseconds since the last complete command on this stream (or since
  // it opened): bytes that complete none do not count.
  qint64 MsSinceCommand() const { return lastCommand_.elapsed(); }
  // Ends the stream as if the peer had closed it (finished() follows).
  void Close() { end(false); }

signals:
  // The stream has ended and its descriptor is closed.
  void finished();

private:
  void readable();
  void writable();
  void answer(const QByteArray &bytes);
  void end(bool reset);
  void note(const QString &text);
  // Acts on the faults once `received_` reaches their counts; true when
  // reading goes no further.
  bool applyFaults();

  int fd_;
  Kind kind_;
  VirtualPrinter &printer_;
  ReadFaults faults_;
  CommandDecoder decoder_;
  qint64 received_ = 0;
  QElapsedTimer lastCommand_;
  QByteArray backlog_;
  bool backlogOverflowed_ = false;
  std::unique_ptr<QSocketNotifier> reader_;
  std::unique_ptr<QSocketNotifier> writer_;
  QTimer delay_;
};

} // namespace pellicar
