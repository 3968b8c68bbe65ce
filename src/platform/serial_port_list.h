#pragma once

#include <QString>
#include <QStringList>

namespace pellicar {

// Replaces `target` with the device paths of the machine's real serial
// ports ("/dev/ttyUSB0"), sorted case-insensitively as text (so ttyS10
// comes before ttyS2). Read from the kernel's device tree below
// `sysfsRoot` ("/sys" on a live system; tests pass a folder of their own).
//
// Listed: ttyUSB*, ttyACM*, ttyAMA* and rfcomm* entries, and ttyS* entries
// only when a real UART stands behind them (their "type" is not 0, the
// kernel's "unknown port"). Virtual terminals, pseudo terminals and consoles
// are not listed. When the tty class folder cannot be read, `target` is left
// unchanged.
void ListSerialPorts(QStringList &target, const QString &sysfsRoot = QStringLiteral("/sys"));

// The stable names of USB serial adapters: the links in
// `devRoot`/serial/by-id ("/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0"),
// which keep their name when the adapter is plugged in again, while the
// device they point to may change (ttyUSB0, ttyUSB1). Sorted as
// ListSerialPorts sorts; empty when there are none.
QStringList ListSerialPortLinks(const QString &devRoot = QStringLiteral("/dev"));

} // namespace pellicar
