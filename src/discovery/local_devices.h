#pragma once

#include "commands/status_answers.h"
#include "platform/printer_list.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <vector>

namespace pellicar {

// Where the machine's devices are looked for, and the bounds of the
// questions. Tests point the folders at their own.
struct LocalDeviceOptions {
  QString devRoot = QStringLiteral("/dev");   // holds usb/lp* and serial/by-id/
  QString sysfsRoot = QStringLiteral("/sys"); // the serial port list (ListSerialPorts)
  // The print server answers a local request within milliseconds.
  int queueTimeoutMs = 1000;
  // Each answer of a USB printer to DLE EOT n; as on the network.
  int answerMs = 500;
};

struct SerialPortEntry {
  QString path;     // "/dev/ttyUSB0"
  QStringList byId; // the names under /dev/serial/by-id that lead to it
};

// A USB printer device file, and what it said when asked for its status.
struct UsbDeviceEntry {
  QString path; // "/dev/usb/lp0"
  std::optional<ReportedStatus> status;
  QString note; // why there is no status ("cannot be opened: ...")
};

// What this machine reaches directly.
struct LocalDevices {
  std::optional<std::vector<PrintQueueInfo>> queues; // nothing: no print server answered
  std::vector<SerialPortEntry> serialPorts;
  std::vector<UsbDeviceEntry> usbDevices;
};

// Lists the print queues, the serial ports with their by-id names, and the
// USB printer device files, asking each device that opens for its status.
// Serial ports are not asked: a question sent to whatever is attached may
// be taken as data. Blocks the calling thread, at most the print server's
// bound plus four answer bounds per USB device; call it off the window's
// thread. `cancel`, when set, skips the devices not yet asked.
LocalDevices FindLocalDevices(const LocalDeviceOptions &options,
                              const std::atomic<bool> *cancel = nullptr);

} // namespace pellicar
