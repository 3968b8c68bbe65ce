#pragma once

#include "logo/bmp_header.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace pellicar {

// The palette indices an RLE8 or RLE4 stream writes, top row first, one
// entry per pixel (width × height of `header`). A stream may leave pixels
// out: a delta escape (00 02 dx dy) jumps over them, an end of line
// (00 00) leaves the rest of its row, an end of bitmap (00 01) the rest of
// the picture. Those pixels hold kSkipped, never a palette index, so that
// what they show does not depend on memory the stream never wrote.
//
// Pixels a run or a stretch would put right of the last column, and rows
// a delta moves past the top, are dropped; the stream is read on in step.
//
// Nothing when the stream is cut short: it ends inside an escape or a
// stretch, or before its end mark while rows are still to come (a stream
// that stops right after the last pixel of its last row is whole). Any
// thread; time and memory bounded by the picture's size and the stream's.
class RleDecoder {
public:
  static constexpr std::int16_t kSkipped = -1;

  static std::optional<std::vector<std::int16_t>> Decode(const BmpHeader &header,
                                                         const QByteArray &stream);
};

} // namespace pellicar
