#pragma once

#include <QByteArray>
#include <QString>

namespace pellicar {

// The size of the sample: above the smallest valid firmware (256 bytes),
// small enough to send in a blink.
inline constexpr qsizetype kSampleFirmwareBytes = 4096;

// A firmware file that passes the check (at least 256 bytes, its length
// little-endian at offset 4, its 32-bit little-endian words summing to 0),
// for trying the upload without a printer's real firmware. Its body says
// what it is. Pure.
QByteArray SampleFirmware(qsizetype size = kSampleFirmwareBytes);

// Writes SampleFirmware() to `path` (replacing the file in one step).
// False, with the reason in `error`.
bool WriteSampleFirmware(const QString &path, QString *error);

} // namespace pellicar
