#include "platform/serial_port_list.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar {
namespace {

// Builds a fake device tree: root/class/tty/NAME, with a "device" entry for
// ports backed by hardware and a "type" file for UARTs.
class FakeSysfs {
public:
  FakeSysfs() { QDir(dir_.path()).mkpath(QStringLiteral("class/tty")); }

  QString root() const { return dir_.path(); }

  void addTty(const QString &name, bool device, const char *uartType = nullptr) {
    const QString entry = dir_.path() + QStringLiteral("/class/tty/") + name;
    QDir().mkpath(entry);
    if (device)
      QDir().mkpath(entry + QStringLiteral("/device"));
    if (uartType != nullptr) {
      QFile type(entry + QStringLiteral("/type"));
      ASSERT_TRUE(type.open(QIODevice::WriteOnly));
      type.write(uartType);
    }
  }

private:
  QTemporaryDir dir_;
};

TEST(ListSerialPorts, ListsRealPortsAsDevicePathsInCaseInsensitiveTextOrder) {
  FakeSysfs sysfs;
  sysfs.addTty(QStringLiteral("ttyUSB10"), true);
  sysfs.addTty(QStringLiteral("ttyUSB1"), true);
  sysfs.addTty(QStringLiteral("ttyUSB2"), true);
  sysfs.addTty(QStringLiteral("ttyACM0"), true);
  sysfs.addTty(QStringLiteral("ttyAMA0"), true);
  sysfs.addTty(QStringLiteral("rfcomm0"), false);
  sysfs.addTty(QStringLiteral("ttyS0"), true, "4\n");

  QStringList ports{QStringLiteral("stale")};
  ListSerialPorts(ports, sysfs.root());
  EXPECT_EQ(ports, (QStringList{"/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyS0",
                                "/dev/ttyUSB1", "/dev/ttyUSB10", "/dev/ttyUSB2"}));
}

TEST(ListSerialPorts, LeavesOutTerminalsWithoutHardwareAndUartsThatAreNotThere) {
  FakeSysfs sysfs;
  sysfs.addTty(QStringLiteral("tty0"), false);
  sysfs.addTty(QStringLiteral("tty1"), false);
  sysfs.addTty(QStringLiteral("console"), false);
  sysfs.addTty(QStringLiteral("ptmx"), false);
  sysfs.addTty(QStringLiteral("ttyS1"), true, "0\n"); // registered, no UART detected
  sysfs.addTty(QStringLiteral("ttyS2"), true);        // no type at all
  sysfs.addTty(QStringLiteral("ttyUSB0"), false);     // stale entry, device gone
  sysfs.addTty(QStringLiteral("ttyS3"), true, "1");

  QStringList ports;
  ListSerialPorts(ports, sysfs.root());
  EXPECT_EQ(ports, QStringList{"/dev/ttyS3"});
}

TEST(ListSerialPorts, NoPortsGiveAnEmptyList) {
  FakeSysfs sysfs;
  sysfs.addTty(QStringLiteral("tty0"), false);
  QStringList ports{QStringLiteral("stale")};
  ListSerialPorts(ports, sysfs.root());
  EXPECT_TRUE(ports.isEmpty());
}

TEST(ListSerialPorts, UnreadableSourceLeavesTheListUnchanged) {
  QTemporaryDir dir;
  const QStringList before{QStringLiteral("/dev/ttyUSB7")};

  QStringList ports = before;
  ListSerialPorts(ports, dir.path() + QStringLiteral("/missing"));
  EXPECT_EQ(ports, before);

  // The tty class is a file instead of a folder.
  QDir(dir.path()).mkpath(QStringLiteral("class"));
  QFile blocker(dir.path() + QStringLiteral("/class/tty"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  ListSerialPorts(ports, dir.path());
  EXPECT_EQ(ports, before);
}

} // namespace
} // namespace pellicar
