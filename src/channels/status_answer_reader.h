#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace pellicar {

// Picks the answers to real-time status requests out of what a printer
// sends, byte by byte. A printer may send bytes nobody asked for:
// automatic status back (a block of four: a first byte with bit 4 set and
// bits 0, 1 and 7 clear, then three with bits 4 and 7 clear) and XON/XOFF
// (11, 13) on a serial line. Those are read past. A byte that is none of
// these and lacks an answer's fixed bits is an untrusted answer.
//
// Owned and used by one thread; holds no I/O.
class TStatusAnswerReader {
public:
  enum class Verdict {
    Pending,   // read past; the answer is still to come
    Answer,    // the byte is the answer
    Untrusted, // the byte stands where an answer should, with wrong fixed bits
  };

  Verdict Take(quint8 byte);

  // How many bytes were read past since Forget, and the first few of them
  // (at most kShownSkipped), for messages.
  qsizetype SkippedCount() const { return skippedCount_; }
  const QByteArray &Skipped() const { return skipped_; }
  static constexpr qsizetype kShownSkipped = 16;

  // Starts over for the next request. A block of automatic status under
  // way goes on: its bytes may be split around our answer.
  void Forget() {
    skipped_.clear();
    skippedCount_ = 0;
  }

private:
  void Skip(quint8 byte);

  int blockLeft_ = 0; // bytes of an automatic status block still to come
  QByteArray skipped_;
  qsizetype skippedCount_ = 0;
};

} // namespace pellicar
