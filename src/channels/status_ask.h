#pragma once

#include "channels/status_answer_reader.h"
#include "channels/status_query.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace pellicar {

// Asks a printer for its status over a connection someone else holds (the
// window's TCP connection or serial port), without waiting: sends DLE EOT
// 1 to 4 one after another, each once the answer to the one before is in,
// and reads the answers from the bytes handed to Take, past bytes nobody
// asked for (TStatusAnswerReader), exactly as QueryPrinterStatus does on a
// link of its own.
//
// Each answer is waited for at most the bound given; only while a question
// is under way does a timer run. Main thread; the outcome is raised from
// the event loop or from inside Take.
class TStatusAsk : public QObject {
  Q_OBJECT
public:
  // Hands bytes to the connection; false when it did not take them.
  using Send = std::function<bool(const QByteArray &bytes)>;

  explicit TStatusAsk(int answerMs, QObject *parent = nullptr);

  // Starts a question (one under way is abandoned without an outcome).
  void Start(Send send);
  // Bytes from the printer. Ignored while no question is under way.
  void Take(const QByteArray &bytes);
  // Ends a question under way without an outcome (the connection closed).
  void Abandon();
  bool Running() const { return asking_ > 0; }

signals:
  void Answered(const pellicar::StatusReading &reading);
  // Why there is no trusted answer: none in time, wrong fixed bits, more
  // than a few KiB of other bytes, or the connection did not take the
  // request.
  void Failed(const QString &message);

private:
  void AskNext();
  void Fail(const QString &message);

  int answerMs_;
  Send send_;
  int asking_ = 0; // the n of the DLE EOT n under way (0: none)
  TStatusAnswerReader reader_;
  StatusReading reading_;
  QTimer timer_;
};

} // namespace pellicar
