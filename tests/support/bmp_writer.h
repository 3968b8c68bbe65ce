#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRgb>
#include <QString>

#include <cstdint>

namespace pellicar::test {

// How a picture is stored as a Windows bitmap file.
struct BmpFormat {
  enum class Compression { Rgb, Rle, BitFields };

  int bitsPerPixel = 24; // 1, 4, 8, 16, 24 or 32
  Compression compression = Compression::Rgb;
  bool topDown = false;
  // 12 (core header, three-byte palette entries), 40, 52, 56, 108 or 124.
  int headerSize = 40;
  // Palette of an indexed file; empty: the picture's colours in the order
  // they first appear (top row first).
  QList<QRgb> palette;
  // Channel masks of a bit-field file (for a 40-byte header they follow it).
  std::uint32_t redMask = 0, greenMask = 0, blueMask = 0, alphaMask = 0;
  // The fourth byte of every 32-bit pixel stored without bit fields.
  std::uint8_t filler = 0;
  // Alpha written into the alpha mask's bits of every bit-field pixel.
  std::uint8_t alpha = 0xFF;
  // When not empty: stored as the pixel data in place of the picture's
  // (an RLE stream written by hand); the picture then gives only the size.
  QByteArray pixelData;
};

// Writes `picture` (read with QImage::pixel, alpha ignored) as the bytes
// of a bitmap file. Colours are reduced to what the format holds: indexed
// formats take the palette entry of the exact colour (the picture must use
// palette colours only), 16-bit and bit-field formats keep the high bits of
// each channel. RLE files use runs and absolute stretches, end every row
// and end with the end-of-bitmap mark.
QByteArray WriteBmp(const QImage &picture, const BmpFormat &format);

// Writes `bytes` to the file `name` in `folder`; returns its full path.
QString SaveFile(const QString &folder, const QString &name, const QByteArray &bytes);

// Little-endian helpers for tests that build or patch headers by hand.
void PutLe16(QByteArray &bytes, qsizetype offset, std::uint16_t value);
void PutLe32(QByteArray &bytes, qsizetype offset, std::uint32_t value);

} // namespace pellicar::test
