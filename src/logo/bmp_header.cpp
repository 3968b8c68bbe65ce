#include "logo/bmp_header.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace pellicar {

namespace {

constexpr qint64 kFileHeader = 14;

std::uint32_t Le16(const QByteArray &b, qint64 at) {
  return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8;
}

std::uint32_t Le32(const QByteArray &b, qint64 at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

bool Contiguous(std::uint32_t mask) {
  if (mask == 0)
    return false;
  const std::uint32_t shifted = mask >> std::countr_zero(mask);
  return (shifted & (shifted + 1)) == 0;
}

// A 10-bit channel shown on a 24-bit display keeps its top 8 bits.
std::uint32_t TopEightBits(std::uint32_t mask) {
  const int bits = std::popcount(mask);
  if (bits <= 8)
    return mask;
  const int drop = bits - 8;
  return mask & ~((std::uint32_t(1) << (std::countr_zero(mask) + drop)) - 1);
}

// a × b for non-negative values, the largest value when it overflows.
qint64 SaturatingMul(qint64 a, qint64 b) {
  constexpr qint64 kMax = std::numeric_limits<qint64>::max();
  if (a != 0 && b > kMax / a)
    return kMax;
  return a * b;
}

qint64 SaturatingAdd(qint64 a, qint64 b) {
  constexpr qint64 kMax = std::numeric_limits<qint64>::max();
  return a > kMax - b ? kMax : a + b;
}

bool KnownInfoHeaderSize(std::uint32_t size) {
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

} // namespace

qint64 BmpHeader::stride() const { return ((width * bitsPerPixel + 31) / 32) * 4; }

qint64 BmpHeader::pixelBytesToRead() const {
  const qint64 available = std::max<qint64>(0, fileSize - pixelOffset);
  if (!compressed())
    return std::min(available, SaturatingMul(stride(), height));
  // The longest sound RLE stream: every pixel a run of its own (two
  // bytes), an end of line per row, the end mark and some slack for
  // encoders that pad. What lies beyond is never needed.
  const qint64 longest =
      SaturatingAdd(SaturatingMul(2 * width, height), SaturatingAdd(2 * height, 2 + 256));
  return std::min(available, longest);
}

std::optional<BmpHeader> BmpHeader::Parse(const QByteArray &head, qint64 fileSize,
                                          Problem *problem) {
  const auto refuse = [problem](Problem why) -> std::optional<BmpHeader> {
    if (problem != nullptr)
      *problem = why;
    return std::nullopt;
  };
  if (problem != nullptr)
    *problem = Problem::None;
  if (fileSize < head.size())
    return refuse(Problem::Contradictory);
  if (head.size() < 2 || head[0] != 'B' || head[1] != 'M')
    return refuse(Problem::NotBmp);
  if (head.size() < kFileHeader + 4)
    return refuse(Problem::CutShort);

  BmpHeader h;
  h.fileSize = fileSize;
  h.pixelOffset = Le32(head, 10);
  const std::uint32_t infoSize = Le32(head, kFileHeader);
  qint64 paletteAt = 0;
  int paletteEntrySize = 4;
  qint64 paletteCount = 0;
  std::uint32_t redMask = 0, greenMask = 0, blueMask = 0;

  if (infoSize == 12) {
    if (head.size() < kFileHeader + 12)
      return refuse(Problem::CutShort);
    h.width = Le16(head, 18);
    h.height = Le16(head, 20);
    if (Le16(head, 22) != 1)
      return refuse(Problem::Unsupported);
    h.bitsPerPixel = int(Le16(head, 24));
    if (h.bitsPerPixel != 1 && h.bitsPerPixel != 4 && h.bitsPerPixel != 8 && h.bitsPerPixel != 24)
      return refuse(Problem::Unsupported);
    paletteAt = kFileHeader + 12;
    paletteEntrySize = 3;
    paletteCount = h.indexed() ? qint64(1) << h.bitsPerPixel : 0;
  } else if (KnownInfoHeaderSize(infoSize)) {
    if (head.size() < kFileHeader + qint64(infoSize))
      return refuse(Problem::CutShort);
    h.width = std::int32_t(Le32(head, 18));
    const qint64 signedHeight = std::int32_t(Le32(head, 22));
    if (h.width < 0 || signedHeight == std::numeric_limits<std::int32_t>::min())
      return refuse(Problem::Contradictory);
    h.topDown = signedHeight < 0;
    h.height = h.topDown ? -signedHeight : signedHeight;
    if (Le16(head, 26) != 1)
      return refuse(Problem::Unsupported);
    h.bitsPerPixel = int(Le16(head, 28));
    const std::uint32_t compression = Le32(head, 30);
    const std::uint32_t colorsUsed = Le32(head, 46);
    const int bpp = h.bitsPerPixel;
    switch (compression) {
    case 0:
      if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return refuse(Problem::Unsupported);
      h.encoding = Encoding::Rgb;
      break;
    case 1:
      if (bpp != 8)
        return refuse(Problem::Unsupported);
      h.encoding = Encoding::Rle8;
      break;
    case 2:
      if (bpp != 4)
        return refuse(Problem::Unsupported);
      h.encoding = Encoding::Rle4;
      break;
    case 3:
      if (bpp != 16 && bpp != 32)
        return refuse(Problem::Unsupported);
      h.encoding = Encoding::BitFields;
      break;
    default:
      return refuse(Problem::Unsupported);
    }
    paletteAt = kFileHeader + infoSize;
    if (h.encoding == Encoding::BitFields) {
      // A 40-byte header is followed by the three masks; the longer ones
      // hold them at the same place inside.
      if (infoSize == 40)
        paletteAt += 12;
      if (head.size() < kFileHeader + 52)
        return refuse(Problem::CutShort);
      redMask = Le32(head, 54);
      greenMask = Le32(head, 58);
      blueMask = Le32(head, 62);
    }
    if (h.indexed()) {
      const qint64 full = qint64(1) << bpp;
      paletteCount = colorsUsed == 0 ? full : std::min<qint64>(colorsUsed, full);
    }
  } else {
    return refuse(Problem::Unsupported);
  }

  if (h.encoding == Encoding::Rgb) {
    if (h.bitsPerPixel == 16) {
      redMask = 0x7C00;
      greenMask = 0x03E0;
      blueMask = 0x001F;
    } else if (h.bitsPerPixel >= 24) {
      redMask = 0xFF0000;
      greenMask = 0x00FF00;
      blueMask = 0x0000FF;
    }
  }
  if (!h.indexed()) {
    const std::uint64_t room = (std::uint64_t(1) << h.bitsPerPixel) - 1;
    for (std::uint32_t m : {redMask, greenMask, blueMask})
      if (!Contiguous(m) || m > room)
        return refuse(Problem::Unsupported);
    if ((redMask & greenMask) || (redMask & blueMask) || (greenMask & blueMask))
      return refuse(Problem::Contradictory);
    h.redMask = TopEightBits(redMask);
    h.greenMask = TopEightBits(greenMask);
    h.blueMask = TopEightBits(blueMask);
  }

  // The pixels start behind the headers and inside the file.
  if (h.pixelOffset < paletteAt)
    return refuse(Problem::Contradictory);
  if (h.pixelOffset > fileSize)
    return refuse(Problem::CutShort);

  if (h.indexed()) {
    // Entries that would overlap the pixel data are not the file's own.
    const qint64 end = std::min<qint64>(h.pixelOffset, head.size());
    const qint64 present =
        std::clamp<qint64>((end - paletteAt) / paletteEntrySize, 0, paletteCount);
    const qint64 full = qint64(1) << h.bitsPerPixel;
    h.palette.reserve(std::size_t(full));
    for (qint64 i = 0; i < full; ++i) {
      if (i >= present) {
        h.palette.push_back(0);
        continue;
      }
      const qint64 at = paletteAt + i * paletteEntrySize;
      h.palette.push_back(std::uint32_t(std::uint8_t(head[at + 2])) << 16 |
                          std::uint32_t(std::uint8_t(head[at + 1])) << 8 | std::uint8_t(head[at]));
    }
  }

  // An uncompressed file must hold every row; the padding of the last row
  // may be missing.
  if (!h.compressed() && h.width > 0 && h.height > 0) {
    const qint64 lastRow = (h.width * h.bitsPerPixel + 7) / 8;
    const qint64 rows = SaturatingAdd(SaturatingMul(h.stride(), h.height - 1), lastRow);
    if (rows > fileSize - h.pixelOffset)
      return refuse(Problem::CutShort);
  }
  if (h.compressed() && h.pixelOffset + 2 > fileSize)
    return refuse(Problem::CutShort);
  return h;
}

} // namespace pellicar
