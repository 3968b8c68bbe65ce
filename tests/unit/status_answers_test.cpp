// The status answers: what each bit means, and which bytes count as
// answers at all. Expectations come from the bit layout of the standard
// requests, written out by hand.

#include "channels/status_answer_reader.h"
#include "commands/status_answers.h"

#include <gtest/gtest.h>

namespace pellicar {
namespace {

struct DecodeCase {
  const char *what;
  std::array<quint8, 4> answers; // to DLE EOT 1, 2, 3, 4
  bool online, coverOpen;
  PaperState paper;
  bool feed;
  PrinterError error;
  bool drawerOpen, ready;
};

TEST(StatusAnswersTest, DecodesEachBitAsTheRequestsDefineIt) {
  using P = PaperState;
  using E = PrinterError;
  const DecodeCase cases[] = {
      {"all clear", {0x12, 0x12, 0x12, 0x12}, true, false, P::Ok, false, E::None, false, true},
      {"n1 bit 3: offline",
       {0x1A, 0x12, 0x12, 0x12},
       false,
       false,
       P::Ok,
       false,
       E::None,
       false,
       false},
      {"n1 bit 2: pin 3 high",
       {0x16, 0x12, 0x12, 0x12},
       true,
       false,
       P::Ok,
       false,
       E::None,
       true,
       true},
      {"n2 bit 2: cover open",
       {0x1A, 0x16, 0x12, 0x12},
       false,
       true,
       P::Ok,
       false,
       E::None,
       false,
       false},
      {"n2 bit 3: feed button",
       {0x12, 0x1A, 0x12, 0x12},
       true,
       false,
       P::Ok,
       true,
       E::None,
       false,
       true},
      {"n2 bit 5: stopped by paper end",
       {0x12, 0x32, 0x12, 0x12},
       true,
       false,
       P::Out,
       false,
       E::None,
       false,
       false},
      {"n2 bit 6: error",
       {0x12, 0x52, 0x12, 0x12},
       true,
       false,
       P::Ok,
       false,
       E::None,
       false,
       false},
      {"n3 bit 3: cutter",
       {0x12, 0x12, 0x1A, 0x12},
       true,
       false,
       P::Ok,
       false,
       E::Cutter,
       false,
       false},
      {"n3 bit 5: unrecoverable",
       {0x12, 0x12, 0x32, 0x12},
       true,
       false,
       P::Ok,
       false,
       E::Unrecoverable,
       false,
       false},
      {"n3 bit 6: auto-recoverable",
       {0x12, 0x12, 0x52, 0x12},
       true,
       false,
       P::Ok,
       false,
       E::AutoRecoverable,
       false,
       false},
      {"n3 bits 3, 5, 6: unrecoverable named",
       {0x12, 0x12, 0x7A, 0x12},
       true,
       false,
       P::Ok,
       false,
       E::Unrecoverable,
       false,
       false},
      {"n4 bits 2, 3: near end, still ready",
       {0x12, 0x12, 0x12, 0x1E},
       true,
       false,
       P::NearEnd,
       false,
       E::None,
       false,
       true},
      {"n4 bit 2 alone: near end",
       {0x12, 0x12, 0x12, 0x16},
       true,
       false,
       P::NearEnd,
       false,
       E::None,
       false,
       true},
      {"n4 bits 5, 6: paper out",
       {0x12, 0x12, 0x12, 0x72},
       true,
       false,
       P::Out,
       false,
       E::None,
       false,
       false},
      {"n4 near end and end: out",
       {0x12, 0x12, 0x12, 0x7E},
       true,
       false,
       P::Out,
       false,
       E::None,
       false,
       false},
  };
  for (const DecodeCase &c : cases) {
    SCOPED_TRACE(c.what);
    const ReportedStatus status = DecodeStatusAnswers(c.answers);
    EXPECT_EQ(status.online, c.online);
    EXPECT_EQ(status.coverOpen, c.coverOpen);
    EXPECT_EQ(status.paper, c.paper);
    EXPECT_EQ(status.feedButtonPressed, c.feed);
    EXPECT_EQ(status.error, c.error);
    EXPECT_EQ(status.drawerOpen, c.drawerOpen);
    EXPECT_EQ(status.Ready(), c.ready);
  }
}

TEST(StatusAnswersTest, RequestsAreDleEotN) {
  EXPECT_EQ(StatusRequest(1).toHex(' '), "10 04 01");
  EXPECT_EQ(StatusRequest(4).toHex(' '), "10 04 04");
}

// What a printer sends, and where the reader finds the answer: the index
// of the answer byte, or -1 for none; `untrusted` when it stops at a byte
// with wrong fixed bits.
struct ReaderCase {
  const char *what;
  QByteArray bytes;
  int answerAt;
  bool untrusted;
};

TEST(StatusAnswerReaderTest, ReadsPastWhatNobodyAskedForAndDistrustsTheRest) {
  const ReaderCase cases[] = {
      {"an answer", QByteArray::fromHex("12"), 0, false},
      {"every free bit set", QByteArray::fromHex("7E"), 0, false},
      {"automatic status block first", QByteArray::fromHex("1C 40 0F 60 16"), 4, false},
      {"XON and XOFF first", QByteArray::fromHex("11 13 12"), 2, false},
      {"a block cut short by the answer", QByteArray::fromHex("14 00 12"), 2, false},
      {"bit 7 set", QByteArray::fromHex("92"), 0, true},
      {"bit 0 set", QByteArray::fromHex("17"), 0, true},
      {"bit 4 clear", QByteArray::fromHex("02"), 0, true},
      {"all ones", QByteArray::fromHex("FF"), 0, true},
      {"zero", QByteArray::fromHex("00"), 0, true},
      {"garbage after a block", QByteArray::fromHex("10 00 00 00 80"), 4, true},
      {"a block only", QByteArray::fromHex("10 00 00 00"), -1, false},
  };
  for (const ReaderCase &c : cases) {
    SCOPED_TRACE(c.what);
    TStatusAnswerReader reader;
    int stoppedAt = -1;
    bool untrusted = false;
    for (int i = 0; i < c.bytes.size() && stoppedAt < 0; ++i) {
      const TStatusAnswerReader::Verdict verdict = reader.Take(quint8(c.bytes[i]));
      if (verdict != TStatusAnswerReader::Verdict::Pending) {
        stoppedAt = i;
        untrusted = verdict == TStatusAnswerReader::Verdict::Untrusted;
      }
    }
    EXPECT_EQ(stoppedAt, c.answerAt);
    EXPECT_EQ(untrusted, c.untrusted);
    if (c.answerAt >= 0) {
      EXPECT_EQ(reader.Skipped(), c.bytes.left(c.answerAt));
    }
  }
}

} // namespace
} // namespace pellicar
