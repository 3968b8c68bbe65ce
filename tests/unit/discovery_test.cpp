// Discovery below the command line: ranges as written, the state words,
// and this machine's devices (a USB printer device and a serial port's
// by-id name, both pellicar-printer's pseudo terminal behind links in a
// folder of the test's own).

#include "discovery/address_range.h"
#include "discovery/local_devices.h"
#include "discovery/status_text.h"
#include "support/printer_process.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar {
namespace {

struct RangeCase {
  QStringList ranges;
  size_t count;      // 0: refused
  const char *first; // first and last address
  const char *last;
};

TEST(AddressRanges, ReadAsWrittenAndBounded) {
  const RangeCase cases[] = {
      {{"192.168.1.0/24"}, 254, "192.168.1.1", "192.168.1.254"},
      {{"192.168.1.77/24"}, 254, "192.168.1.1", "192.168.1.254"},
      {{"10.0.0.10-10.0.0.60"}, 51, "10.0.0.10", "10.0.0.60"},
      {{"127.0.0.5"}, 1, "127.0.0.5", "127.0.0.5"},
      {{"127.0.0.4/31"}, 2, "127.0.0.4", "127.0.0.5"},
      {{"127.0.0.1-127.0.0.3", "127.0.0.2-127.0.0.4"}, 4, "127.0.0.1", "127.0.0.4"},
      {{"10.0.0.0/20"}, 4094, "10.0.0.1", "10.0.15.254"},
      {{"10.0.0.0-10.0.15.255"}, 4096, "10.0.0.0", "10.0.15.255"},
      {{"10.0.0.0/19"}, 0, "", ""},                       // 8190 addresses
      {{"10.0.0.0-10.0.15.255", "10.0.16.0"}, 0, "", ""}, // 4097 together
      {{"10.0.0.60-10.0.0.10"}, 0, "", ""},               // backwards
      {{"10.0.0.256"}, 0, "", ""},
      {{"10.0.0"}, 0, "", ""}, // not addresses
      {{"10.0.0.1/33"}, 0, "", ""},
      {{"0x7f.0.0.1"}, 0, "", ""},
      {{"printer.local"}, 0, "", ""},
  };
  for (const RangeCase &c : cases) {
    SCOPED_TRACE(c.ranges.join(u' ').toStdString());
    if (c.count == 0) {
      EXPECT_THROW(ParseAddressRanges(c.ranges), ERangeError);
      continue;
    }
    const std::vector<quint32> addresses = ParseAddressRanges(c.ranges);
    ASSERT_EQ(addresses.size(), c.count);
    EXPECT_EQ(DottedAddress(addresses.front()), QLatin1String(c.first));
    EXPECT_EQ(DottedAddress(addresses.back()), QLatin1String(c.last));
  }
  EXPECT_EQ(Slash24Of(QStringLiteral("192.168.1.100")), QStringLiteral("192.168.1.0/24"));
  EXPECT_EQ(Slash24Of(QStringLiteral("printer")), QString());
}

TEST(StatusText, TheMostPressingStateIsNamed) {
  // n=1 offline bit 3; n=2 cover bit 2, error bit 6; n=3 cutter bit 3;
  // n=4 near end bits 2-3, out bits 5-6. 0x12 is an answer with nothing set.
  const struct {
    std::array<quint8, 4> answers;
    const char *text;
  } cases[] = {
      {{0x12, 0x12, 0x12, 0x12}, "Ready"},     {{0x12, 0x12, 0x12, 0x1E}, "Paper low"},
      {{0x1A, 0x12, 0x12, 0x72}, "Paper out"}, {{0x1A, 0x16, 0x12, 0x72}, "Cover open"},
      {{0x1A, 0x12, 0x12, 0x12}, "Offline"},   {{0x1A, 0x52, 0x1A, 0x12}, "Error: cutter"},
      {{0x1A, 0x52, 0x12, 0x12}, "Error"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(StateText(DecodeStatusAnswers(c.answers)), QLatin1String(c.text)) << c.text;
}

TEST(LocalDevices, AsksUsbDevicesAndNamesSerialPortsById) {
  test::PrinterProcess printer;
  ASSERT_TRUE(printer.Start({QStringLiteral("--status"), QStringLiteral("paper-near-end")}))
      << printer.Message().toStdString();
  QTemporaryDir dev;
  ASSERT_TRUE(QDir(dev.path()).mkpath(QStringLiteral("usb")));
  ASSERT_TRUE(QDir(dev.path()).mkpath(QStringLiteral("serial/by-id")));
  ASSERT_TRUE(QFile::link(printer.SerialPath(), dev.filePath(QStringLiteral("usb/lp0"))));
  // Not a device: listed, with why it was not asked.
  QFile plain(dev.filePath(QStringLiteral("usb/lp1")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const QString byId = dev.filePath(QStringLiteral("serial/by-id/usb-Maker_Receipt_01-if00"));
  ASSERT_TRUE(QFile::link(printer.SerialPath(), byId));

  LocalDeviceOptions options;
  options.devRoot = dev.path();
  options.sysfsRoot = dev.filePath(QStringLiteral("no-sys"));
  const LocalDevices found = FindLocalDevices(options);

  ASSERT_EQ(found.usbDevices.size(), 2u);
  ASSERT_TRUE(found.usbDevices[0].status) << found.usbDevices[0].note.toStdString();
  EXPECT_EQ(StateText(*found.usbDevices[0].status), QStringLiteral("Paper low"));
  EXPECT_FALSE(found.usbDevices[1].status);
  EXPECT_TRUE(found.usbDevices[1].note.contains(QStringLiteral("not a device")))
      << found.usbDevices[1].note.toStdString();
  ASSERT_EQ(found.serialPorts.size(), 1u);
  EXPECT_EQ(found.serialPorts[0].path, QFileInfo(printer.SerialPath()).canonicalFilePath());
  EXPECT_EQ(found.serialPorts[0].byId, QStringList{byId});
}

} // namespace
} // namespace pellicar
