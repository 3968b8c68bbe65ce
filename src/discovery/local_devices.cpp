#include "discovery/local_devices.h"

#include "channels/printer_link.h"
#include "channels/status_query.h"
#include "platform/serial_port_list.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace pellicar {

namespace {

// Natural order, so lp2 comes before lp10.
void SortNaturally(QStringList &names) {
  QCollator collator;
  collator.setNumericMode(true);
  std::sort(names.begin(), names.end(),
            [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
}

std::vector<SerialPortEntry> SerialPorts(const LocalDeviceOptions &options) {
  QStringList ports;
  ListSerialPorts(ports, options.sysfsRoot);
  std::vector<SerialPortEntry> entries;
  for (const QString &port : ports)
    entries.push_back({port, {}});
  // An adapter's by-id name stays the same when it is plugged into another
  // socket, unlike ttyUSB0: the name to write down.
  const QDir byId(options.devRoot + QStringLiteral("/serial/by-id"));
  QStringList names = byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
  SortNaturally(names);
  for (const QString &name : names) {
    const QString link = byId.filePath(name);
    const QString target = QFileInfo(link).canonicalFilePath();
    if (target.isEmpty())
      continue; // a dangling link: the adapter went
    auto entry = std::find_if(entries.begin(), entries.end(), [&](const SerialPortEntry &e) {
      return QFileInfo(e.path).canonicalFilePath() == target;
    });
    if (entry == entries.end()) {
      entries.push_back({target, {}});
      entry = std::prev(entries.end());
    }
    entry->byId << link;
  }
  return entries;
}

UsbDeviceEntry AskUsbDevice(const QString &path, int answerMs) {
  UsbDeviceEntry entry{path, std::nullopt, {}};
  ChannelChoice target;
  target.kind = ChannelChoice::Kind::Device;
  target.target = path;
  try {
    const std::unique_ptr<TPrinterLink> link = OpenPrinterLink(target, QDeadlineTimer(answerMs));
    // Each of the four questions gets its answer bound; the exchange as a
    // whole ends when all four would have run out.
    const int exchangeMs = answerMs * kStatusRequestCount;
    entry.status = QueryPrinterStatus(*link, QDeadlineTimer(exchangeMs), exchangeMs).status;
  } catch (const EPrinterLinkError &e) {
    entry.note = e.message();
  }
  return entry;
}

} // namespace

LocalDevices FindLocalDevices(const LocalDeviceOptions &options, const std::atomic<bool> *cancel) {
  LocalDevices found;
  found.queues = QueryPrintQueues(options.queueTimeoutMs);
  found.serialPorts = SerialPorts(options);
  const QDir usb(options.devRoot + QStringLiteral("/usb"));
  QStringList names = usb.entryList({QStringLiteral("lp*")}, QDir::System | QDir::Files);
  SortNaturally(names);
  for (const QString &name : names) {
    if (cancel && cancel->load()) {
      found.usbDevices.push_back({usb.filePath(name), std::nullopt, QStringLiteral("not asked")});
      continue;
    }
    found.usbDevices.push_back(AskUsbDevice(usb.filePath(name), options.answerMs));
  }
  return found;
}

} // namespace pellicar
