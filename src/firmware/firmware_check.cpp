#include "firmware/firmware_check.h"

#include <QFile>
#include <QFileInfo>

namespace pellicar {

namespace {

std::uint32_t LittleEndianWord(const char *p) {
  return std::uint32_t(std::uint8_t(p[0])) | std::uint32_t(std::uint8_t(p[1])) << 8 |
         std::uint32_t(std::uint8_t(p[2])) << 16 | std::uint32_t(std::uint8_t(p[3])) << 24;
}

// Reads the whole file into `image` behind room for the prefix, so that a
// large file is held once and not copied again.
bool ReadBehindPrefix(QFile &file, qint64 size, QByteArray &image) {
  image.resize(kFirmwarePrefixBytes + qsizetype(size));
  qint64 got = 0;
  while (got < size) {
    const qint64 n = file.read(image.data() + kFirmwarePrefixBytes + got, size - got);
    if (n < 0)
      return false;
    if (n == 0)
      break; // the file shrank since its size was taken: check what is there
    got += n;
  }
  image.resize(kFirmwarePrefixBytes + qsizetype(got));
  return true;
}

void WritePrefix(char *p, std::uint32_t length) {
  p[0] = char(0x1F);
  p[1] = char(0x75);
  p[2] = char(length >> 24);
  p[3] = char(length >> 16);
  p[4] = char(length >> 8);
  p[5] = char(length);
}

} // namespace

QString DescribeFirmwareVerdict(FirmwareVerdict verdict) {
  switch (verdict) {
  case FirmwareVerdict::Valid:
    return QStringLiteral("valid");
  case FirmwareVerdict::NoFile:
    return QStringLiteral("no such file");
  case FirmwareVerdict::TooLarge:
    return QStringLiteral("larger than %1 bytes").arg(kFirmwareMaxBytes);
  case FirmwareVerdict::Unreadable:
    return QStringLiteral("cannot be read");
  case FirmwareVerdict::TooShort:
    return QStringLiteral("shorter than %1 bytes").arg(kFirmwareMinBytes);
  case FirmwareVerdict::LengthMismatch:
    return QStringLiteral("length field does not match the file's length");
  case FirmwareVerdict::BadWordSum:
    return QStringLiteral("word sum is not zero");
  }
  return {};
}

std::uint32_t FirmwareWordSum(QByteArrayView bytes) {
  // The printer's tool sums the file in 256-byte blocks; as 256 is a whole
  // number of words, that is the same as summing every whole word at once.
  std::uint32_t sum = 0;
  const qsizetype words = bytes.size() / 4;
  for (qsizetype i = 0; i < words; ++i)
    sum += LittleEndianWord(bytes.data() + 4 * i);
  return sum;
}

FirmwareVerdict CheckFirmwareBytes(QByteArrayView bytes) {
  if (bytes.size() < kFirmwareMinBytes)
    return FirmwareVerdict::TooShort;
  if (qint64(LittleEndianWord(bytes.data() + 4)) != qint64(bytes.size()))
    return FirmwareVerdict::LengthMismatch;
  if (FirmwareWordSum(bytes) != 0)
    return FirmwareVerdict::BadWordSum;
  return FirmwareVerdict::Valid;
}

QByteArray BuildFirmwareImage(QByteArrayView fileBytes) {
  QByteArray image(kFirmwarePrefixBytes + fileBytes.size(), Qt::Uninitialized);
  WritePrefix(image.data(), std::uint32_t(fileBytes.size()));
  std::copy(fileBytes.begin(), fileBytes.end(), image.begin() + kFirmwarePrefixBytes);
  return image;
}

FirmwareFileCheck CheckFirmwareFile(const QString &path) {
  FirmwareFileCheck result;
  const QFileInfo info(path);
  if (path.isEmpty() || !info.isFile())
    return result;
  if (info.size() > kFirmwareMaxBytes) {
    result.verdict = FirmwareVerdict::TooLarge;
    return result;
  }
  QFile file(path);
  QByteArray image;
  if (!file.open(QIODevice::ReadOnly) || !ReadBehindPrefix(file, info.size(), image)) {
    result.verdict = FirmwareVerdict::Unreadable;
    return result;
  }
  const QByteArrayView fileBytes = QByteArrayView(image).sliced(kFirmwarePrefixBytes);
  result.verdict = CheckFirmwareBytes(fileBytes);
  if (result.verdict == FirmwareVerdict::Valid) {
    WritePrefix(image.data(), std::uint32_t(fileBytes.size()));
    result.image = std::move(image);
  }
  return result;
}

} // namespace pellicar
