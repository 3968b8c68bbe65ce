#include "app/error_handler.h"
#include "platform/exceptions.h"
#include "support/recording_dialogs.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>

namespace pellicar {
namespace {

TEST(WithFullStop, AppendsOnlyAfterCharactersThatSortAfterTheFullStop) {
  struct Case {
    const char *message;
    const char *shown;
  };
  const Case cases[] = {
      {"Error opening serial port", "Error opening serial port."},
      {"'91OO' is not a valid integer value", "'91OO' is not a valid integer value."},
      {"File handle is not a comm handle ", "File handle is not a comm handle "}, // blank < '.'
      {"Done.", "Done."},
      {"Error!", "Error!"},
      {"Wait -", "Wait -"},
      {"Sent 100%", "Sent 100%"},
      {"Port 9100", "Port 9100."}, // digits sort after '.'
      {"path/", "path/."},
      {"", ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(WithFullStop(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown)) << c.message;
}

class GuardTest : public ::testing::Test {
protected:
  test::RecordingMessageBoxes boxes;
  QWidget owner;
};

TEST_F(GuardTest, AThrowingHandlerEndsThereAndShowsOneErrorBox) {
  bool after = false;
  Guarded(boxes, &owner, [&] {
    throw Exception(QStringLiteral("Error opening serial port"));
    after = true;
  });
  EXPECT_FALSE(after);
  ASSERT_EQ(boxes.shown.size(), 1);
  const MessageBoxRequest &box = boxes.shown[0].request;
  EXPECT_EQ(box.text, QStringLiteral("Error opening serial port."));
  EXPECT_EQ(box.caption, QStringLiteral("Pellicar"));
  EXPECT_EQ(box.icon, MsgIcon::Error);
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(boxes.shown[0].owner, &owner);
}

TEST_F(GuardTest, TheSilentAbortShowsNothing) {
  Guarded(boxes, &owner, [] { throw EAbort(); });
  EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(GuardTest, ForeignExceptionsAreShownToo) {
  Guarded(boxes, &owner, [] { throw std::runtime_error("out of range"); });
  Guarded(boxes, &owner, [] { throw 42; });
  EXPECT_EQ(boxes.Texts(), (QStringList{"out of range.", "Unknown error."}));
}

TEST_F(GuardTest, AHandlerThatSucceedsShowsNothing) {
  int runs = 0;
  Guarded(boxes, &owner, [&] { ++runs; });
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(boxes.shown.isEmpty());
}

} // namespace
} // namespace pellicar
