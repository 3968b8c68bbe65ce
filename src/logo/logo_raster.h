#pragma once

#include <QtGlobal>

namespace pellicar {

// The printer's column raster of one logo image. A record is
//   xL xH yL yH, then 8·x columns of y bytes each, left to right,
// with x = (w + 7) / 8, y = (h + 7) / 8 and two-byte values low byte
// first. Byte j of a column holds rows 8j..8j+7, bit 7 the top one; a set
// bit prints a dot. Columns w..8x-1 and rows h..8y-1 are zero.
// LogoPicture builds records.

// The largest size the logo data may reach: the 3 bytes of the command
// (1C 71 n) and every record.
inline constexpr qint64 kLogoCapacity = 65539;
inline constexpr qint64 kLogoCommandBytes = 3;

// Bytes of the record of a w × h image, header included.
qint64 LogoRecordSize(qint64 width, qint64 height);

} // namespace pellicar
