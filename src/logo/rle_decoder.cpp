#include "logo/rle_decoder.h"

#include <algorithm>

namespace pellicar {

std::optional<std::vector<std::int16_t>> RleDecoder::Decode(const BmpHeader &header,
                                                            const QByteArray &stream) {
  const qint64 width = header.width;
  const qint64 height = header.height;
  const bool rle4 = header.encoding == BmpHeader::Encoding::Rle4;
  std::vector<std::int16_t> indices(std::size_t(width * height), kSkipped);

  const qint64 n = stream.size();
  const auto byteAt = [&](qint64 i) { return int(std::uint8_t(stream[i])); };
  // x counts from the left; y counts stored rows, the first one at the
  // bottom of the picture unless the file is top-down.
  qint64 pos = 0, x = 0, y = 0;
  const auto rowStart = [&]() -> std::int16_t * {
    const qint64 row = header.topDown ? y : height - 1 - y;
    return indices.data() + row * width;
  };
  // The pixels of a run or stretch that land inside the row.
  const auto visible = [&](qint64 count) { return std::clamp<qint64>(width - x, 0, count); };

  while (y < height) {
    if (pos + 2 > n)
      return y == height - 1 && x >= width ? std::optional(std::move(indices)) : std::nullopt;
    const int count = byteAt(pos), code = byteAt(pos + 1);
    pos += 2;
    if (count > 0) { // a run of `count` pixels
      std::int16_t *row = rowStart();
      const qint64 shown = visible(count);
      for (qint64 i = 0; i < shown; ++i)
        row[x + i] = std::int16_t(rle4 ? (i % 2 ? code & 0x0F : code >> 4) : code);
      x += count;
      continue;
    }
    switch (code) {
    case 0: // end of line
      x = 0;
      ++y;
      break;
    case 1: // end of bitmap
      return indices;
    case 2: // move right by dx and on by dy rows
      if (pos + 2 > n)
        return std::nullopt;
      x += byteAt(pos);
      y += byteAt(pos + 1);
      pos += 2;
      break;
    default: { // a stretch of `code` pixels, padded to an even byte count
      const qint64 bytes = rle4 ? (code + 1) / 2 : code;
      if (pos + bytes > n)
        return std::nullopt;
      std::int16_t *row = rowStart();
      const qint64 shown = visible(code);
      for (qint64 i = 0; i < shown; ++i) {
        const int byte = byteAt(pos + (rle4 ? i / 2 : i));
        row[x + i] = std::int16_t(rle4 ? (i % 2 ? byte & 0x0F : byte >> 4) : byte);
      }
      pos += bytes + bytes % 2;
      x += code;
      break;
    }
    }
  }
  return indices;
}

} // namespace pellicar
