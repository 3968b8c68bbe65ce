#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace pellicar {

// The layout of a Windows bitmap file, read from its headers and checked
// before a single pixel is decoded, so that a file that lies about its
// size costs nothing. Accepted are the variants Windows itself reads: the
// 12-byte core header (1, 4, 8, 24 bits), the 40-, 52-, 56-, 108- and
// 124-byte info headers with 1, 4, 8, 16, 24 or 32 bits per pixel, RLE8,
// RLE4, bit fields, bottom-up and top-down rows.
//
// RLE streams are decoded by RleDecoder, which knows which pixels a
// stream skips; uncompressed rows by LogoPicture. No graphics library is
// involved.
struct BmpHeader {
  enum class Encoding { Rgb, Rle8, Rle4, BitFields };
  // Why Parse refused a file.
  enum class Problem {
    None,
    NotBmp,        // it does not begin with "BM"
    Unsupported,   // a variant Windows does not read (bits, compression, masks)
    Contradictory, // its headers contradict each other or the file
    CutShort,      // the file ends inside its headers or before its last row
  };

  qint64 width = 0;  // pixels; may be 0 (the caller refuses it)
  qint64 height = 0; // pixels, also for top-down files; may be 0
  bool topDown = false;
  int bitsPerPixel = 0;
  Encoding encoding = Encoding::Rgb;
  // Indexed files (up to 8 bits): exactly 2^bitsPerPixel colours, each
  // 0xRRGGBB; entries the file does not hold are black.
  std::vector<std::uint32_t> palette;
  // Files of 16, 24 or 32 bits: contiguous channel masks, each at most
  // 8 bits wide (a wider mask keeps its top 8 bits, as a 24-bit display
  // would).
  std::uint32_t redMask = 0, greenMask = 0, blueMask = 0;
  qint64 pixelOffset = 0; // where the pixel data starts in the file
  qint64 fileSize = 0;

  bool indexed() const { return bitsPerPixel <= 8; }
  bool compressed() const { return encoding == Encoding::Rle8 || encoding == Encoding::Rle4; }
  // Bytes of one stored row of an uncompressed file (padded to 4 bytes).
  qint64 stride() const;
  // How many bytes of pixel data to read from pixelOffset: all rows of an
  // uncompressed file; for RLE what the file holds, at most what a sound
  // encoding of this size can take.
  qint64 pixelBytesToRead() const;

  // The most of a file's beginning that Parse looks at.
  static constexpr qint64 kHeadBytes = 14 + 124 + 12 + 256 * 4;

  // Reads the headers from `head`, the first bytes (up to kHeadBytes) of a
  // file of `fileSize` bytes. Nothing when it is not a bitmap of an
  // accepted variant, or when its headers contradict each other or the
  // file (an uncompressed file shorter than its rows, a pixel offset
  // inside the headers or past the end); `problem`, when given, then says
  // why.
  static std::optional<BmpHeader> Parse(const QByteArray &head, qint64 fileSize,
                                        Problem *problem = nullptr);
};

} // namespace pellicar
