// The window against pellicar-printer over TCP: what its buttons send is
// what the printer makes of it.

#include "support/json_path.h"
#include "support/printer_process.h"
#include "support/window_fixture.h"

#include <QCheckBox>
#include <QJsonObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pellicar::test {
namespace {

using ::testing::ElementsAre;

class WindowPrinterTest : public WindowFixture {};

TEST_F(WindowPrinterTest, BaseSetSelfTestAndIpReachThePrinter) {
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
  ASSERT_TRUE(connectTcp(printer.Port()));

  choose("cbbCPBR", 5); // "115200"
  choose("cbbCHS", 1);  // "40"
  choose("cbbFont", 1); // "FONT-B"
  get<QCheckBox>("chkBuzzer")->setChecked(false);
  get<QCheckBox>("chkBAP")->setChecked(true);
  click("btnBaseSet");
  click("btnSelfTest");
  type("edtIPAD4", QStringLiteral("300"));
  click("btnIPSet");

  ASSERT_TRUE(printer.WaitForLog(5)) << printer.Log().join(u'\n').toStdString();
  EXPECT_THAT(printer.Log(),
              ElementsAre("Base Parameter: 115200 baud, parity none, cutter on, buzzer off, "
                          "drawer on, 40 characters per line, density normal, code page 255 "
                          "(CHINESE), font B",
                          "Auto Reprint: off", "Buzz After Printing: on",
                          "SelfTest: printed page 1 (page-1.png)", "Set IP: 192.168.1.44"));
  const QJsonObject state = printer.State();
  EXPECT_EQ(JsonText(JsonAt(state, QStringLiteral("base.baudRate"))), "115200");
  EXPECT_EQ(JsonText(JsonAt(state, QStringLiteral("base.buzzAfterPrinting"))), "true");
  EXPECT_EQ(JsonText(JsonAt(state, QStringLiteral("ethernet.ip"))), "\"192.168.1.44\"");
  // The self-test page is as wide as 40 characters of 12 dots.
  EXPECT_EQ(QImage(QDir(printer.OutDir()).filePath(QStringLiteral("page-1.png"))).width(), 480);
  EXPECT_EQ(status(), QStringLiteral("Complete !"));
}

} // namespace
} // namespace pellicar::test
