#include "channels/status_ask.h"

namespace pellicar {

namespace {

// As QueryPrinterStatus: a printer that sends this much unasked before an
// answer is streaming something else, not answering.
constexpr qsizetype kMaxUnaskedBytes = 4096;

QString Hex(quint8 byte) {
  return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

TStatusAsk::TStatusAsk(int answerMs, QObject *parent) : QObject(parent), answerMs_(answerMs) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    Fail(
        QStringLiteral("no answer to DLE EOT %1 within %2 s").arg(asking_).arg(Seconds(answerMs_)));
  });
}

void TStatusAsk::Start(Send send) {
  send_ = std::move(send);
  reading_ = StatusReading();
  asking_ = 1;
  AskNext();
}

void TStatusAsk::Abandon() {
  asking_ = 0;
  timer_.stop();
  send_ = nullptr;
}

void TStatusAsk::AskNext() {
  reader_.Forget();
  timer_.start(answerMs_);
  // A failed send may close the port, whose handlers may abandon this
  // question while the sending function runs: it is called from a copy.
  const Send send = send_;
  if (!send(StatusRequest(asking_)) && asking_ > 0)
    Fail(QStringLiteral("the connection did not take DLE EOT %1").arg(asking_));
}

void TStatusAsk::Fail(const QString &message) {
  Abandon();
  emit Failed(message);
}

void TStatusAsk::Take(const QByteArray &bytes) {
  for (const char c : bytes) {
    if (asking_ == 0)
      return;
    const quint8 byte = quint8(c);
    switch (reader_.Take(byte)) {
    case TStatusAnswerReader::Verdict::Pending:
      if (reader_.SkippedCount() > kMaxUnaskedBytes)
        Fail(QStringLiteral("no answer to DLE EOT %1 among more than %2 bytes it sent unasked")
                 .arg(asking_)
                 .arg(kMaxUnaskedBytes));
      break;
    case TStatusAnswerReader::Verdict::Untrusted:
      Fail(QStringLiteral("the answer to DLE EOT %1 is %2, whose fixed bits are wrong; it is not "
                          "trusted")
               .arg(asking_)
               .arg(Hex(byte)));
      break;
    case TStatusAnswerReader::Verdict::Answer:
      reading_.answers[asking_ - 1] = byte;
      if (asking_ < kStatusRequestCount) {
        ++asking_;
        AskNext();
        break;
      }
      Abandon();
      reading_.status = DecodeStatusAnswers(reading_.answers);
      emit Answered(reading_);
      return;
    }
  }
}

} // namespace pellicar
