#include "discovery/discovery_report.h"

#include "discovery/address_range.h"
#include "discovery/status_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace pellicar {

namespace {

// Rows padded into columns, two blanks apart, indented by two.
QString Columns(const std::vector<QStringList> &rows) {
  std::vector<qsizetype> widths;
  for (const QStringList &row : rows)
    for (qsizetype i = 0; i < row.size(); ++i) {
      if (size_t(i) >= widths.size())
        widths.push_back(0);
      widths[i] = std::max(widths[i], row[i].size());
    }
  QString text;
  for (const QStringList &row : rows) {
    QString line = QStringLiteral("  ");
    for (qsizetype i = 0; i < row.size(); ++i)
      line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
    while (line.endsWith(QLatin1Char(' ')))
      line.chop(1);
    if (!line.isEmpty())
      text += line + QLatin1Char('\n');
  }
  return text;
}

QJsonValue StatusObject(const std::optional<ReportedStatus> &status) {
  if (!status)
    return QJsonValue::Null;
  QJsonObject object;
  for (const auto &[key, value] : StatusFields(*status))
    object.insert(key, value);
  return object;
}

QString ScanLine(const DiscoveryResult::Network &network) {
  const ScanSummary &s = network.summary;
  QString line = QStringLiteral("Network %1, port %2: %3 of %4 addresses in %5 s, %6 accepted, "
                                "%7 printers")
                     .arg(network.ranges.join(QStringLiteral(" ")))
                     .arg(network.port)
                     .arg(s.finished)
                     .arg(s.total)
                     .arg(QString::number(double(s.elapsedMs) / 1000.0, 'f', 1))
                     .arg(s.accepted)
                     .arg(s.printers);
  if (s.cancelled)
    line += QStringLiteral(" (cancelled)");
  else if (s.limitReached)
    line += QStringLiteral(" (the scan's limit of %1 s ran out; %2 addresses not scanned)")
                .arg(network.limits.wholeMs / 1000)
                .arg(s.total - s.finished);
  return line + QLatin1Char('\n');
}

} // namespace

QString QueueStateText(const PrintQueueInfo &queue) {
  QString text;
  switch (queue.state) {
  case PrintQueueInfo::State::Idle:
    text = QStringLiteral("idle");
    break;
  case PrintQueueInfo::State::Printing:
    text = QStringLiteral("printing");
    break;
  case PrintQueueInfo::State::Stopped:
    text = QStringLiteral("stopped");
    break;
  case PrintQueueInfo::State::Unknown:
    text = QStringLiteral("unknown");
    break;
  }
  if (!queue.acceptingJobs)
    text += QStringLiteral(", not accepting jobs");
  return text;
}

QString DiscoveryTable(const DiscoveryResult &result) {
  const LocalDevices &local = result.local;
  QString text = QStringLiteral("Print queues\n");
  if (!local.queues)
    text += QStringLiteral("  (no print server answered)\n");
  else if (local.queues->empty())
    text += QStringLiteral("  (none)\n");
  else {
    std::vector<QStringList> rows{
        {QStringLiteral("NAME"), QStringLiteral("STATE"), QStringLiteral("DEVICE URI")}};
    for (const PrintQueueInfo &queue : *local.queues)
      rows.push_back({queue.name, QueueStateText(queue), queue.deviceUri});
    text += Columns(rows);
  }

  text += QStringLiteral("Serial ports\n");
  if (local.serialPorts.empty())
    text += QStringLiteral("  (none)\n");
  else {
    std::vector<QStringList> rows;
    for (const SerialPortEntry &port : local.serialPorts)
      rows.push_back({port.path, port.byId.join(QStringLiteral(" "))});
    text += Columns(rows);
  }

  text += QStringLiteral("USB printer devices\n");
  if (local.usbDevices.empty())
    text += QStringLiteral("  (none)\n");
  else {
    std::vector<QStringList> rows;
    for (const UsbDeviceEntry &device : local.usbDevices)
      rows.push_back({device.path, device.status ? StateText(*device.status) : device.note});
    text += Columns(rows);
  }

  if (result.network) {
    text += ScanLine(*result.network);
    std::vector<QStringList> rows{{QStringLiteral("ADDRESS"), QStringLiteral("PORT"),
                                   QStringLiteral("PRINTER"), QStringLiteral("STATUS")}};
    for (const NetworkFinding &finding : result.network->findings)
      rows.push_back({DottedAddress(finding.address), QString::number(finding.port),
                      finding.printer ? QStringLiteral("yes") : QStringLiteral("no"),
                      finding.status ? StateText(*finding.status) : finding.note});
    if (rows.size() > 1)
      text += Columns(rows);
  }
  return text;
}

QByteArray DiscoveryJson(const DiscoveryResult &result) {
  const LocalDevices &local = result.local;
  QJsonObject root;
  if (local.queues) {
    QJsonArray queues;
    for (const PrintQueueInfo &queue : *local.queues) {
      QString state = QueueStateText(queue).section(QLatin1Char(','), 0, 0);
      queues.append(QJsonObject{{QStringLiteral("name"), queue.name},
                                {QStringLiteral("device_uri"), queue.deviceUri},
                                {QStringLiteral("state"), state},
                                {QStringLiteral("accepting_jobs"), queue.acceptingJobs},
                                {QStringLiteral("state_message"), queue.stateMessage}});
    }
    root.insert(QStringLiteral("queues"), queues);
  } else {
    root.insert(QStringLiteral("queues"), QJsonValue::Null);
  }
  QJsonArray ports;
  for (const SerialPortEntry &port : local.serialPorts)
    ports.append(QJsonObject{{QStringLiteral("path"), port.path},
                             {QStringLiteral("by_id"), QJsonArray::fromStringList(port.byId)}});
  root.insert(QStringLiteral("serial_ports"), ports);
  QJsonArray usb;
  for (const UsbDeviceEntry &device : local.usbDevices)
    usb.append(QJsonObject{{QStringLiteral("path"), device.path},
                           {QStringLiteral("printer"), device.status.has_value()},
                           {QStringLiteral("status"), StatusObject(device.status)},
                           {QStringLiteral("note"), device.note}});
  root.insert(QStringLiteral("usb_devices"), usb);
  QJsonArray network;
  if (result.network) {
    const DiscoveryResult::Network &net = *result.network;
    for (const NetworkFinding &finding : net.findings)
      network.append(QJsonObject{{QStringLiteral("address"), DottedAddress(finding.address)},
                                 {QStringLiteral("port"), finding.port},
                                 {QStringLiteral("printer"), finding.printer},
                                 {QStringLiteral("status"), StatusObject(finding.status)},
                                 {QStringLiteral("note"), finding.note}});
    const ScanSummary &s = net.summary;
    root.insert(QStringLiteral("scan"),
                QJsonObject{{QStringLiteral("ranges"), QJsonArray::fromStringList(net.ranges)},
                            {QStringLiteral("port"), net.port},
                            {QStringLiteral("addresses"), s.total},
                            {QStringLiteral("scanned"), s.finished},
                            {QStringLiteral("accepted"), s.accepted},
                            {QStringLiteral("printers"), s.printers},
                            {QStringLiteral("seconds"), double(s.elapsedMs) / 1000.0},
                            {QStringLiteral("cancelled"), s.cancelled},
                            {QStringLiteral("limit_reached"), s.limitReached}});
  }
  root.insert(QStringLiteral("network"), network);
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray InventoryCsv(const DiscoveryResult &result) {
  QByteArray csv = "target\n";
  // A path with a comma or a quote is written as CSV quotes it.
  auto field = [](const QString &text) {
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n'))
      bytes = '"' + bytes.replace("\"", "\"\"") + '"';
    return bytes;
  };
  for (const UsbDeviceEntry &device : result.local.usbDevices)
    if (device.status)
      csv += field(QStringLiteral("device:") + device.path) + '\n';
  if (result.network)
    for (const NetworkFinding &finding : result.network->findings)
      if (finding.printer)
        csv +=
            field(
                QStringLiteral("tcp:%1:%2").arg(DottedAddress(finding.address)).arg(finding.port)) +
            '\n';
  return csv;
}

} // namespace pellicar
