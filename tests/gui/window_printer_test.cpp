// The window against pellicar-printer over TCP: what its buttons send is
// what the printer makes of it.

#include "support/firmware_files.h"
#include "support/json_path.h"
#include "support/printer_process.h"
#include "support/window_fixture.h"

#include <QCheckBox>
#include <QJsonObject>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>

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

// A firmware upload to a printer that reads slowly and then stops: the bar
// shows what the printer acknowledged, never more than it read plus what
// its receive buffer holds; "Disconnect" and a change of "Port" ask first,
// No keeps the upload going, Yes ends it with the "stopped after" box.
TEST_F(WindowPrinterTest, UploadFollowsThePrinterAndAsksBeforeDisconnect) {
  constexpr qint64 kReadLimit = 40000;
  // Acknowledged but not yet read: the printer's receive buffer (4 KiB,
  // which the kernel doubles) and a read in flight.
  constexpr qint64 kUnreadSlack = 12 << 10;
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start({QStringLiteral("--read-delay"), QStringLiteral("50"),
                             QStringLiteral("--stop-reading-after"), QString::number(kReadLimit)}))
      << printer.Message().toStdString();
  ASSERT_TRUE(connectTcp(printer.Port()));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("fw.bin"));
  ASSERT_FALSE(WriteValidFirmware(path, 409600).isEmpty());
  files.nextFiles.push_back(path);
  click("btnChoseFW");
  stopClock();
  auto *bar = get<QProgressBar>("statAllTransfer");
  const QRegularExpression text(QStringLiteral("^update: ([\\d,]+) of 409,606 bytes$"));
  qint64 highest = 0;
  const auto sample = [&] {
    const auto match = text.match(bar->text());
    if (match.hasMatch())
      highest = std::max(highest, QString(match.captured(1)).remove(u',').toLongLong());
  };
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, sample);
  sampler.start(10);
  click("btnUpdateFW");
  ASSERT_TRUE(printer.WaitForLog(1)) << "the printer did not stop reading";
  RunEventLoopFor(1500); // the bar would run on here if it counted our socket
  EXPECT_GT(highest, 0);
  EXPECT_LE(highest, kReadLimit + kUnreadSlack);

  // No keeps the upload, on "Disconnect" and on leaving "Ethernet".
  boxes.shown.clear();
  boxes.answers = {MsgResult::No, MsgResult::No};
  click("btnConnect");
  get<QRadioButton>("rgPortItem0")->click();
  ASSERT_EQ(boxes.shown.size(), 2);
  EXPECT_TRUE(boxes.shown[0].request.text.endsWith(u"bytes). Abandon it and disconnect?"));
  EXPECT_TRUE(boxes.shown[1].request.text.endsWith(u"bytes). Abandon it and change the port?"));
  EXPECT_TRUE(form().TcpConnected);
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Disconnect"));
  EXPECT_TRUE(get<QRadioButton>("rgPortItem2")->isChecked());
  EXPECT_TRUE(bar->isVisibleTo(&form()));

  // Yes ends it, with how far it got.
  boxes.shown.clear();
  boxes.answers = {MsgResult::Yes};
  click("btnConnect");
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  ASSERT_TRUE(WaitUntil([&] { return boxes.shown.size() == 2; }))
      << boxes.Texts().join(u'|').toStdString();
  const auto stopped =
      QRegularExpression(QStringLiteral("^The firmware upload stopped after ([\\d,]+) of 409,606 "
                                        "bytes\\.$"))
          .match(boxes.shown[1].request.text);
  ASSERT_TRUE(stopped.hasMatch()) << boxes.shown[1].request.text.toStdString();
  const qint64 count = QString(stopped.captured(1)).remove(u',').toLongLong();
  EXPECT_GE(count, highest);
  EXPECT_LE(count, kReadLimit + kUnreadSlack);
  EXPECT_FALSE(bar->isVisibleTo(&form()));
}

} // namespace
} // namespace pellicar::test
