#include "logo/logo_raster.h"

namespace pellicar {

qint64 LogoRecordSize(qint64 width, qint64 height) {
  return 4 + 8 * ((width + 7) / 8) * ((height + 7) / 8);
}

void AppendLogoRecord(const QImage &dots, QByteArray &out) {
  const int w = dots.width();
  const int h = dots.height();
  const int x = (w + 7) / 8;
  const int y = (h + 7) / 8;
  const qsizetype base = out.size();
  out.resize(base + LogoRecordSize(w, h), '\0');
  out[base] = char(x & 0xFF);
  out[base + 1] = char((x >> 8) & 0xFF);
  out[base + 2] = char(y & 0xFF);
  out[base + 3] = char((y >> 8) & 0xFF);

  char *raster = out.data() + base + 4;
  const bool lsbFirst = dots.format() == QImage::Format_MonoLSB;
  for (int r = 0; r < h; ++r) {
    const uchar *line = dots.constScanLine(r);
    const char bit = char(0x80 >> (r % 8));
    char *cell = raster + r / 8;
    for (int c = 0; c < w; ++c) {
      const int shift = lsbFirst ? c % 8 : 7 - c % 8;
      if ((line[c / 8] >> shift) & 1)
        cell[qsizetype(c) * y] |= bit;
    }
  }
}

} // namespace pellicar
