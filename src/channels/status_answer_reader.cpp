#include "channels/status_answer_reader.h"

#include "commands/status_answers.h"

namespace pellicar {

namespace {

constexpr quint8 kXon = 0x11;
constexpr quint8 kXoff = 0x13;

// Automatic status back: a first byte 0xx1xx00, then three 0xx0xxxx.
constexpr int kBlockLength = 4;
bool StartsBlock(quint8 byte) { return (byte & 0x93) == 0x10; }
bool ContinuesBlock(quint8 byte) { return (byte & 0x90) == 0x00; }

} // namespace

void TStatusAnswerReader::Skip(quint8 byte) {
  if (skipped_.size() < kShownSkipped)
    skipped_ += char(byte);
  ++skippedCount_;
}

TStatusAnswerReader::Verdict TStatusAnswerReader::Take(quint8 byte) {
  if (blockLeft_ > 0) {
    if (ContinuesBlock(byte)) {
      --blockLeft_;
      Skip(byte);
      return Verdict::Pending;
    }
    blockLeft_ = 0; // not such a block after all; the byte speaks for itself
  }
  if (HasStatusFixedBits(byte))
    return Verdict::Answer;
  if (StartsBlock(byte)) {
    blockLeft_ = kBlockLength - 1;
    Skip(byte);
    return Verdict::Pending;
  }
  if (byte == kXon || byte == kXoff) {
    Skip(byte);
    return Verdict::Pending;
  }
  return Verdict::Untrusted;
}

} // namespace pellicar
