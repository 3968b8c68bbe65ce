#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

namespace pellicar {

// A firmware file, as the printer expects it (little-endian throughout):
//   offset 0, 4 bytes  first word (only counted in the word sum)
//   offset 4, 4 bytes  length: the file's length in bytes
//   offset 8 ...       body (only counted in the word sum)
// The file is at least kFirmwareMinBytes long, and its 32-bit words, added
// modulo 2^32, give 0; the last 1 to 3 bytes of a length that is not a
// multiple of 4 belong to no word.
//
// The firmware image is what goes to the printer: 1F 75, the file's length
// most significant byte first, then the file's bytes unchanged.

inline constexpr qint64 kFirmwareMinBytes = 256;
// No printer's firmware comes near this; a larger file is refused before it
// is read, so that a wrong pick cannot exhaust memory.
inline constexpr qint64 kFirmwareMaxBytes = qint64(64) * 1024 * 1024;
inline constexpr qsizetype kFirmwarePrefixBytes = 6;

// The outcome of checking a firmware file, in the order the rules are
// applied: the first rule that fails decides.
enum class FirmwareVerdict {
  Valid,
  NoFile,         // the path names no existing regular file (nothing was read)
  TooLarge,       // over kFirmwareMaxBytes (refused before reading)
  Unreadable,     // exists, but opening or reading it failed
  TooShort,       // fewer than kFirmwareMinBytes
  LengthMismatch, // the length field is not the file's length
  BadWordSum,     // the words do not add up to 0
};

// A short English reason, for logs and the command-line tool
// ("shorter than 256 bytes").
QString DescribeFirmwareVerdict(FirmwareVerdict verdict);

// The 32-bit little-endian words of `bytes` added modulo 2^32; trailing
// bytes that make no whole word are not counted.
std::uint32_t FirmwareWordSum(QByteArrayView bytes);

// Applies the content rules (length, length field, word sum) to a file's
// bytes. Never returns NoFile, TooLarge or Unreadable.
FirmwareVerdict CheckFirmwareBytes(QByteArrayView bytes);

// The image of a file's bytes (which should have passed the check).
QByteArray BuildFirmwareImage(QByteArrayView fileBytes);

struct FirmwareFileCheck {
  FirmwareVerdict verdict = FirmwareVerdict::NoFile;
  QByteArray image; // the firmware image when Valid, else empty
};

// Reads the file at `path` and checks it; on success the result holds its
// firmware image. Something that is not a regular file (a directory, a
// device, a pipe) counts as no file and is never opened. Blocks while it
// reads (at most kFirmwareMaxBytes). Any thread; no exception.
FirmwareFileCheck CheckFirmwareFile(const QString &path);

} // namespace pellicar
