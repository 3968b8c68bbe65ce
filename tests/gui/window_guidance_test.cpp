// The window guides its user: the error boxes keep their fixed texts and
// say why in their detail text; "Help" shows the manual; the "COM Port："
// list offers the stable names of USB adapters and the ports given at
// start.

#include "support/firmware_files.h"
#include "support/loopback_ports.h"
#include "support/window_fixture.h"

#include "app/start_options.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTextBrowser>

#include <functional>

namespace pellicar::test {
namespace {

class WindowErrorDetailTest : public WindowFixture {};

TEST_F(WindowErrorDetailTest, EachErrorBoxSaysWhy) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString badSum = folder.filePath(QStringLiteral("bad.bin"));
  QByteArray bytes = ValidFirmwareBytes(300);
  bytes[20] = char(bytes[20] + 1);
  ASSERT_TRUE(WriteFileBytes(badSum, bytes));
  const QString shortFile = folder.filePath(QStringLiteral("short.bin"));
  ASSERT_TRUE(WriteFileBytes(shortFile, QByteArray(255, '\0')));
  RefusingPort refusing;
  printers = QStringList{}; // no print queue installed

  struct Row {
    const char *what;
    std::function<void()> act;
    QString text;
    QString detail;
  };
  const std::vector<Row> rows = {
      {"a firmware whose words do not sum to zero",
       [&] {
         files.nextFiles.push_back(badSum);
         click("btnChoseFW");
       },
       QStringLiteral("Invalid Firmware"), badSum + QStringLiteral(": word sum is not zero.")},
      {"a firmware too short",
       [&] {
         files.nextFiles.push_back(shortFile);
         click("btnChoseFW");
       },
       QStringLiteral("Invalid Firmware"), shortFile + QStringLiteral(": shorter than 256 bytes.")},
      {"a refused connection",
       [&] {
         choosePort(2);
         type("edtETHIP", QStringLiteral("127.0.0.1"));
         type("edtETHPort", QString::number(refusing.port()));
         click("btnConnect");
         WaitUntil([&] { return !boxes.shown.isEmpty(); });
       },
       QStringLiteral("Connect To Printer Error"),
       QStringLiteral("Could not connect to 127.0.0.1:%1: Connection refused.")
           .arg(refusing.port())},
      {"a port that is no number",
       [&] {
         choosePort(2);
         type("edtETHPort", QStringLiteral("91OO"));
         click("btnConnect");
       },
       QStringLiteral("'91OO' is not a valid integer value."),
       QStringLiteral("In the field \"Ethernet ：\" (box 2 of 2).")},
      {"an IP address box that is no number",
       [&] {
         type("edtIPAD3", QStringLiteral("AB"));
         click("btnIPSet");
       },
       QStringLiteral("'AB' is not a valid integer value."),
       QStringLiteral("In the field \"IP:\" (box 3 of 4).")},
      {"a black-mark width that is no number",
       [&] {
         type("edtBMWidth", QStringLiteral("1 0"));
         click("btnBMWidth");
       },
       QStringLiteral("'1 0' is not a valid integer value."),
       QStringLiteral("In the field \"BlackMark Width:\".")},
      {"a send to the print queue when none is installed",
       [&] {
         choosePort(0);
         click("btnSelfTest");
       },
       QStringLiteral("Send Failed !"),
       QStringLiteral("\"Driver\": no print queue is installed on this computer, so there is "
                      "none to send to.")},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    boxes.shown.clear();
    row.act();
    ASSERT_EQ(boxes.shown.size(), 1) << boxes.Texts().join(u'|').toStdString();
    EXPECT_EQ(boxes.shown[0].request.text, row.text);
    EXPECT_EQ(boxes.shown[0].request.detail, row.detail);
    EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
  }
}

TEST_F(WindowErrorDetailTest, HelpShowsTheManual) {
  click("btnHelp");
  auto *manual = form().findChild<QDialog *>(QStringLiteral("dlgManual"));
  ASSERT_NE(manual, nullptr);
  EXPECT_TRUE(manual->isVisible());
  const QString text = manual->findChild<QTextBrowser *>()->toPlainText();
  EXPECT_TRUE(text.contains(QStringLiteral("pellicar-cli"))) << text.left(200).toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("For developers")));
  click("btnHelp");
  EXPECT_EQ(form().findChildren<QDialog *>(QStringLiteral("dlgManual")).size(), 1);
  EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(WindowErrorDetailTest, ComPortListOffersStableNamesAndPortsGivenAtStart) {
  QStringList arguments{QStringLiteral("-platform"),     QStringLiteral("offscreen"),
                        QStringLiteral("--serial-port"), QStringLiteral("/dev/pts/7"),
                        QStringLiteral("--serial-port"), QStringLiteral("/dev/ttyUSB0")};
  const std::optional<QStringList> given = TakeSerialPortOptions(arguments);
  ASSERT_TRUE(given.has_value());
  EXPECT_EQ(arguments, (QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen")}));
  QStringList lacking{QStringLiteral("--serial-port")};
  EXPECT_FALSE(TakeSerialPortOptions(lacking).has_value());

  // A machine with one USB adapter: ttyUSB0 in sysfs, its stable name in
  // /dev/serial/by-id.
  QTemporaryDir dev;
  ASSERT_TRUE(QDir(sysfs.path()).mkpath(QStringLiteral("class/tty/ttyUSB0/device")));
  ASSERT_TRUE(QDir(dev.path()).mkpath(QStringLiteral("serial/by-id")));
  const QString stable =
      dev.filePath(QStringLiteral("serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0"));
  ASSERT_TRUE(QFile::link(QStringLiteral("../../ttyUSB0"), stable));
  FormServices services;
  services.boxes = &boxes;
  services.fileDialogs = &files;
  services.listPrinters = [] { return QStringList{}; };
  services.sysfsRoot = sysfs.path();
  services.devRoot = dev.path();
  services.extraSerialPorts = *given;
  TForm1 window(services);
  auto *list = window.findChild<QComboBox *>(QStringLiteral("cbbCOM"));
  ASSERT_NE(list, nullptr);
  QStringList items;
  for (int i = 0; i < list->count(); ++i)
    items << list->itemText(i);
  // The given /dev/ttyUSB0 is listed once.
  EXPECT_EQ(items,
            (QStringList{QStringLiteral("/dev/ttyUSB0"), stable, QStringLiteral("/dev/pts/7")}));
  EXPECT_EQ(list->currentIndex(), 0);
}

} // namespace
} // namespace pellicar::test
