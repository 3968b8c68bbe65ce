#include "support/qt_logo_reference.h"

#include "logo/bmp_header.h"
#include "logo/logo_raster.h"
#include "logo/rle_decoder.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <array>
#include <bit>

namespace pellicar::test {

namespace {

using F = LogoPicture::Fault;

void Append16(QByteArray &out, std::uint32_t v) {
  out.append(char(v & 0xFF));
  out.append(char((v >> 8) & 0xFF));
}

void Append32(QByteArray &out, std::uint32_t v) {
  Append16(out, v & 0xFFFF);
  Append16(out, v >> 16);
}

// An uncompressed bitmap file in the decoder's layout (40-byte header,
// masks, full palette) with `pixels` as its pixel data, padded with zeros
// to full rows.
QByteArray Normalised(const BmpHeader &h, QByteArray pixels) {
  pixels.resize(h.stride() * h.height, '\0');
  const std::uint32_t compression = h.bitsPerPixel == 16 || h.bitsPerPixel == 32 ? 3 : 0;
  const bool masks = compression == 3;
  const std::uint32_t offset =
      std::uint32_t(14 + 40 + (masks ? 12 : 0) + qsizetype(h.palette.size()) * 4);
  QByteArray out;
  out.append("BM", 2);
  Append32(out, offset + std::uint32_t(pixels.size()));
  Append32(out, 0);
  Append32(out, offset);
  Append32(out, 40);
  Append32(out, std::uint32_t(h.width));
  Append32(out, std::uint32_t(h.topDown ? -h.height : h.height));
  Append16(out, 1);
  Append16(out, std::uint32_t(h.bitsPerPixel));
  Append32(out, compression);
  Append32(out, std::uint32_t(pixels.size()));
  Append32(out, 0);
  Append32(out, 0);
  Append32(out, std::uint32_t(h.palette.size()));
  Append32(out, 0);
  if (masks) {
    Append32(out, h.redMask);
    Append32(out, h.greenMask);
    Append32(out, h.blueMask);
  }
  for (std::uint32_t c : h.palette) {
    out.append(char(c & 0xFF));
    out.append(char((c >> 8) & 0xFF));
    out.append(char((c >> 16) & 0xFF));
    out.append('\0');
  }
  out.append(pixels);
  return out;
}

int FullChannel(std::uint32_t mask) { return 256 - (1 << (8 - std::popcount(mask))); }

QImage NewDots(int width, int height) {
  QImage dots(width, height, QImage::Format_Mono);
  dots.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  dots.fill(0);
  return dots;
}

void SetDot(QImage &dots, int x, int y) { dots.scanLine(y)[x / 8] |= uchar(0x80 >> (x % 8)); }

std::array<bool, 256> DotIndices(const QList<QRgb> &table, int bitsPerPixel) {
  std::array<bool, 256> isDot;
  isDot.fill(true);
  for (qsizetype i = 0; i < std::min<qsizetype>(table.size(), 256); ++i) {
    const QRgb c = table[i];
    isDot[i] = bitsPerPixel == 1 ? qBlue(c) < 128 : (c & 0xFFFFFF) != 0xFFFFFF;
  }
  return isDot;
}

QList<QRgb> Table(const std::vector<std::uint32_t> &palette) {
  QList<QRgb> table;
  for (std::uint32_t c : palette)
    table.append(0xFF000000 | c);
  return table;
}

QImage IndexedToDots(const QImage &decoded, const BmpHeader &header) {
  const std::array<bool, 256> isDot = DotIndices(decoded.colorTable(), header.bitsPerPixel);
  QImage dots = NewDots(decoded.width(), decoded.height());
  for (int y = 0; y < decoded.height(); ++y)
    for (int x = 0; x < decoded.width(); ++x)
      if (isDot[decoded.pixelIndex(x, y) & 0xFF])
        SetDot(dots, x, y);
  return dots;
}

QImage DirectToDots(const QImage &decoded, const BmpHeader &header) {
  const QImage rgb = decoded.convertToFormat(QImage::Format_RGB32);
  const int fullRed = FullChannel(header.redMask);
  const int fullGreen = FullChannel(header.greenMask);
  const int fullBlue = FullChannel(header.blueMask);
  QImage dots = NewDots(rgb.width(), rgb.height());
  for (int y = 0; y < rgb.height(); ++y) {
    const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) {
      const QRgb c = line[x];
      if (!(qRed(c) >= fullRed && qGreen(c) >= fullGreen && qBlue(c) >= fullBlue))
        SetDot(dots, x, y);
    }
  }
  return dots;
}

QImage RleToDots(const std::vector<std::int16_t> &indices, const BmpHeader &header) {
  const std::array<bool, 256> isDot = DotIndices(Table(header.palette), header.bitsPerPixel);
  const int w = int(header.width);
  const int h = int(header.height);
  QImage dots = NewDots(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::int16_t index = indices[std::size_t(y) * std::size_t(w) + std::size_t(x)];
      if (index != RleDecoder::kSkipped && isDot[index & 0xFF])
        SetDot(dots, x, y);
    }
  return dots;
}

QByteArray Record(const QImage &dots) {
  const int w = dots.width();
  const int h = dots.height();
  const int x = (w + 7) / 8;
  const int y = (h + 7) / 8;
  QByteArray out(LogoRecordSize(w, h), '\0');
  out[0] = char(x & 0xFF);
  out[1] = char((x >> 8) & 0xFF);
  out[2] = char(y & 0xFF);
  out[3] = char((y >> 8) & 0xFF);
  char *raster = out.data() + 4;
  for (int r = 0; r < h; ++r) {
    const uchar *line = dots.constScanLine(r);
    for (int c = 0; c < w; ++c)
      if ((line[c / 8] >> (7 - c % 8)) & 1)
        raster[qsizetype(c) * y + r / 8] |= char(0x80 >> (r % 8));
  }
  return out;
}

ReferenceRecord Refused(F fault) { return {fault, {}}; }

} // namespace

ReferenceRecord QtReferenceRecord(const QByteArray &file, qint64 room) {
  const qint64 fileSize = file.size();
  const QByteArray head = file.left(BmpHeader::kHeadBytes);
  const std::optional<BmpHeader> header = BmpHeader::Parse(head, fileSize);
  if (!header || header->width == 0 || header->height == 0 ||
      header->width > LogoPicture::kMaxWidth)
    return Refused(F::Invalid);
  if (LogoRecordSize(header->width, header->height) > room)
    return Refused(F::TooLarge);
  const QByteArray pixels = file.mid(header->pixelOffset, header->pixelBytesToRead());
  if (pixels.size() != header->pixelBytesToRead())
    return Refused(F::Invalid);
  if (header->compressed()) {
    const auto indices = RleDecoder::Decode(*header, pixels);
    if (!indices)
      return Refused(F::Invalid);
    return {F::None, Record(RleToDots(*indices, *header))};
  }
  QByteArray normalised = Normalised(*header, pixels);
  QBuffer buffer(&normalised);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "bmp");
  reader.setAutoTransform(false);
  const QImage decoded = reader.read();
  if (decoded.isNull() || decoded.width() != header->width || decoded.height() != header->height ||
      (header->indexed() && decoded.colorCount() == 0))
    return Refused(F::Invalid);
  return {F::None, Record(header->indexed() ? IndexedToDots(decoded, *header)
                                            : DirectToDots(decoded, *header))};
}

} // namespace pellicar::test
