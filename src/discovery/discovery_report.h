#pragma once

#include "discovery/local_devices.h"
#include "discovery/network_scan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace pellicar {

// Everything one discovery found.
struct DiscoveryResult {
  LocalDevices local;
  // The network part, when ranges were given.
  struct Network {
    QStringList ranges;
    quint16 port = 9100;
    ScanLimits limits;
    std::vector<NetworkFinding> findings;
    ScanSummary summary;
  };
  std::optional<Network> network;
};

// The result as tables for a terminal: queues, serial ports, USB devices,
// then the network, with a line that says how the scan ended.
QString DiscoveryTable(const DiscoveryResult &result);

// The result as one JSON object: "queues", "serial_ports", "usb_devices",
// "network" (one entry per address that accepted a connection: address,
// port, printer, status as `status --json` gives it or null, note) and
// "scan" (how the scan ended).
QByteArray DiscoveryJson(const DiscoveryResult &result);

// The printers found, one CSV row each under the header "target", in the
// channel form the targets file of `apply` takes ("tcp:HOST:PORT",
// "device:PATH"): the network's printers and the USB devices that answered.
QByteArray InventoryCsv(const DiscoveryResult &result);

// The state of a queue in one word ("idle", "printing", "stopped").
QString QueueStateText(const PrintQueueInfo &queue);

} // namespace pellicar
