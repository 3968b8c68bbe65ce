#include "printer/sample_firmware.h"

#include "firmware/firmware_check.h"

#include <QSaveFile>
#include <QtEndian>

#include <algorithm>

namespace pellicar {

namespace {

// Where the word that makes the sum zero goes: the first word after the
// length field.
constexpr qsizetype kBalanceOffset = 8;

} // namespace

QByteArray SampleFirmware(qsizetype size) {
  size = std::max(size, qsizetype(kFirmwareMinBytes)) / 4 * 4;
  QByteArray bytes(size, '\0');
  const QByteArray text = QByteArrayLiteral(
      "Pellicar sample firmware: it passes the firmware check and does nothing else. ");
  for (qsizetype at = 12; at < size; ++at)
    bytes[at] = text[(at - 12) % text.size()];
  qToLittleEndian<quint32>(0x4C4C4550, bytes.data()); // "PELL"
  qToLittleEndian<quint32>(quint32(size), bytes.data() + 4);
  qToLittleEndian<quint32>(0u - FirmwareWordSum(bytes), bytes.data() + kBalanceOffset);
  return bytes;
}

bool WriteSampleFirmware(const QString &path, QString *error) {
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(SampleFirmware()) >= 0 && file.commit())
    return true;
  *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
  return false;
}

} // namespace pellicar
