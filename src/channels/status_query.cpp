#include "channels/status_query.h"

#include "channels/status_answer_reader.h"

namespace pellicar {

namespace {

// A printer that sends this much unasked before an answer is not going to
// answer: it is streaming something else, and reading on would only wait
// out the deadline.
constexpr qsizetype kMaxUnaskedBytes = 4096;

QString Hex(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

QString Unasked(const TStatusAnswerReader &reader) {
  QString text = Hex(reader.Skipped());
  if (reader.SkippedCount() > reader.Skipped().size())
    text += QStringLiteral(" ... (%1 bytes)").arg(reader.SkippedCount());
  return text;
}

} // namespace

StatusReading QueryPrinterStatus(TPrinterLink &link, const QDeadlineTimer &deadline, int boundMs) {
  StatusReading reading;
  TStatusAnswerReader reader;
  QByteArray arrived; // read, not yet looked at
  link.DiscardInput();
  for (int n = 1; n <= kStatusRequestCount; ++n) {
    reader.Forget();
    link.Send(StatusRequest(n), deadline);
    std::optional<quint8> answer;
    while (!answer) {
      if (arrived.isEmpty() && !link.Receive(arrived, deadline)) {
        QString message =
            QStringLiteral("no answer to DLE EOT %1 within %2 s").arg(n).arg(Seconds(boundMs));
        if (!reader.Skipped().isEmpty())
          message +=
              QStringLiteral(" (only %1, which answers nothing we asked)").arg(Unasked(reader));
        throw EPrinterLinkError(message);
      }
      qsizetype used = 0;
      while (used < arrived.size() && !answer) {
        const quint8 byte = quint8(arrived[used++]);
        switch (reader.Take(byte)) {
        case TStatusAnswerReader::Verdict::Pending:
          if (reader.SkippedCount() > kMaxUnaskedBytes)
            throw EPrinterLinkError(
                QStringLiteral("no answer to DLE EOT %1 among more than %2 bytes it sent unasked "
                               "(%3)")
                    .arg(n)
                    .arg(kMaxUnaskedBytes)
                    .arg(Unasked(reader)));
          break;
        case TStatusAnswerReader::Verdict::Answer:
          answer = byte;
          break;
        case TStatusAnswerReader::Verdict::Untrusted:
          throw EPrinterLinkError(
              QStringLiteral("the answer to DLE EOT %1 is %2, whose fixed bits are wrong (an "
                             "answer has bits 1 and 4 set and bits 0 and 7 clear); it is not "
                             "trusted")
                  .arg(n)
                  .arg(Hex(QByteArray(1, char(byte)))));
        }
      }
      arrived.remove(0, used);
    }
    reading.answers[n - 1] = *answer;
  }
  reading.status = DecodeStatusAnswers(reading.answers);
  return reading;
}

} // namespace pellicar
