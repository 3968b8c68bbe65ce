#pragma once

// Firmware files for tests: valid ones of any size, written to disk, and
// the image the printer should receive for them.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <random>

namespace pellicar::test {

inline void PutLittleEndian(QByteArray &bytes, qsizetype offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = char(value >> (8 * i));
}

inline std::uint32_t GetLittleEndian(const QByteArray &bytes, qsizetype offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8 | std::uint8_t(bytes[offset + i]);
  return value;
}

// Sets the first word so that the file's whole 32-bit little-endian words
// add up to 0 modulo 2^32. `bytes` must be at least 8 long.
inline void BalanceWordSum(QByteArray &bytes) {
  std::uint32_t sum = 0;
  for (qsizetype offset = 4; offset + 4 <= bytes.size(); offset += 4)
    sum += GetLittleEndian(bytes, offset);
  PutLittleEndian(bytes, 0, 0u - sum);
}

// The bytes of a firmware file that passes the check: `size` bytes (at
// least 256 for a valid one; at least 8), the length field holding `size`,
// the body pseudo-random from `seed` (so that lost, doubled or reordered
// pieces show), the first word balancing the word sum.
inline QByteArray ValidFirmwareBytes(qsizetype size, std::uint32_t seed = 1) {
  QByteArray bytes(size, Qt::Uninitialized);
  std::minstd_rand random(seed);
  for (qsizetype i = 0; i < size; ++i)
    bytes[i] = char(random() >> 7);
  PutLittleEndian(bytes, 4, std::uint32_t(size));
  BalanceWordSum(bytes);
  return bytes;
}

inline bool WriteFileBytes(const QString &path, const QByteArray &bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Writes a valid firmware file of `size` bytes; returns its bytes (empty
// when the file could not be written).
inline QByteArray WriteValidFirmware(const QString &path, qsizetype size, std::uint32_t seed = 1) {
  const QByteArray bytes = ValidFirmwareBytes(size, seed);
  return WriteFileBytes(path, bytes) ? bytes : QByteArray();
}

// A valid firmware file of `size` bytes that takes no room on disk: zeros
// but for the first word and the length field. For sizes near and above
// the largest accepted file.
inline bool WriteSparseValidFirmware(const QString &path, qint64 size) {
  QByteArray head(8, '\0');
  PutLittleEndian(head, 4, std::uint32_t(size));
  BalanceWordSum(head);
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(head) == 8 &&
         file.resize(size);
}

// What the printer receives for a valid file: 1F 75, the length most
// significant byte first, the file's bytes.
inline QByteArray ExpectedFirmwareImage(const QByteArray &fileBytes) {
  const auto length = std::uint32_t(fileBytes.size());
  QByteArray image;
  image.append(char(0x1F)).append(char(0x75));
  for (int shift = 24; shift >= 0; shift -= 8)
    image.append(char(length >> shift));
  return image + fileBytes;
}

} // namespace pellicar::test
