#include "platform/serial_port_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace pellicar {

namespace {

bool hasPrefix(const QString &name, const char *prefix) {
  return name.startsWith(QLatin1String(prefix)) && name.size() > int(qstrlen(prefix));
}

// The 8250 driver registers a ttyS entry for every possible port, present or
// not; only those whose UART was detected carry a type other than 0.
bool hasRealUart(const QString &entry) {
  QFile type(entry + QStringLiteral("/type"));
  if (!type.open(QIODevice::ReadOnly))
    return false;
  bool ok = false;
  const int value = QString::fromLatin1(type.readAll()).trimmed().toInt(&ok);
  return ok && value != 0;
}

bool isRealPort(const QString &classDir, const QString &name) {
  const QString entry = classDir + QLatin1Char('/') + name;
  if (hasPrefix(name, "rfcomm"))
    return true;
  const bool hardware = QFileInfo::exists(entry + QStringLiteral("/device"));
  if (hasPrefix(name, "ttyUSB") || hasPrefix(name, "ttyACM") || hasPrefix(name, "ttyAMA"))
    return hardware;
  if (hasPrefix(name, "ttyS"))
    return hardware && hasRealUart(entry);
  return false;
}

} // namespace

QStringList ListSerialPortLinks(const QString &devRoot) {
  const QString folder = devRoot + QStringLiteral("/serial/by-id");
  QStringList links;
  for (const QFileInfo &entry :
       QDir(folder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
    links.append(folder + QLatin1Char('/') + entry.fileName());
  std::sort(links.begin(), links.end(), [](const QString &a, const QString &b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  return links;
}

void ListSerialPorts(QStringList &target, const QString &sysfsRoot) {
  const QString classDir = sysfsRoot + QStringLiteral("/class/tty");
  QDir dir(classDir);
  if (!dir.exists() || !dir.isReadable())
    return;
  const QStringList names = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
  if (names.isEmpty() && !QFileInfo(classDir).isExecutable())
    return;

  QStringList ports;
  for (const QString &name : names) {
    if (isRealPort(classDir, name))
      ports.append(QStringLiteral("/dev/") + name);
  }
  std::sort(ports.begin(), ports.end(), [](const QString &a, const QString &b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  target = ports;
}

} // namespace pellicar
