#include "support/fake_printer.h"
#include "support/window_fixture.h"

#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::WindowFixture;

class WindowSendTest : public WindowFixture {};

TEST_F(WindowSendTest, BaseSetWithTheDefaultsOverTcp) {
  test::FakePrinter printer;
  ASSERT_TRUE(printer.listening());
  ASSERT_TRUE(connectTcp(printer.port()));
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Disconnect"));

  click("btnBaseSet");
  EXPECT_EQ(status(), QStringLiteral("Complete !"));
  ASSERT_TRUE(printer.waitForBytes(17));
  EXPECT_EQ(printer.received().toHex(' ').toUpper(),
            QByteArray("1F 73 02 00 00 00 00 00 FF 00 00 1F 72 00 1F 74 00"));
  EXPECT_TRUE(test::WaitUntil([&] { return status() != QStringLiteral("Complete !"); }, 1500))
      << "the clock replaces the outcome at the next tick";
}

} // namespace
} // namespace pellicar
