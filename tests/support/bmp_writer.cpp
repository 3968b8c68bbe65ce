#include "support/bmp_writer.h"

#include <QFile>

#include <bit>
#include <stdexcept>
#include <vector>

namespace pellicar::test {

QString SaveFile(const QString &folder, const QString &name, const QByteArray &bytes) {
  const QString path = folder + QLatin1Char('/') + name;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write test file");
  return path;
}

void PutLe16(QByteArray &bytes, qsizetype offset, std::uint16_t value) {
  bytes[offset] = char(value & 0xFF);
  bytes[offset + 1] = char(value >> 8);
}

void PutLe32(QByteArray &bytes, qsizetype offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[offset + i] = char((value >> (8 * i)) & 0xFF);
}

namespace {

void Append16(QByteArray &out, std::uint32_t value) {
  out.append(char(value & 0xFF));
  out.append(char((value >> 8) & 0xFF));
}

void Append32(QByteArray &out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out.append(char((value >> (8 * i)) & 0xFF));
}

// The bits of an 8-bit channel value placed into `mask`.
std::uint32_t IntoMask(int value8, std::uint32_t mask) {
  if (mask == 0)
    return 0;
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask);
  const std::uint32_t v =
      bits >= 8 ? std::uint32_t(value8) << (bits - 8) : std::uint32_t(value8) >> (8 - bits);
  return (v << shift) & mask;
}

using IndexRow = std::vector<int>;

// Runs of one index, absolute stretches for mixed pixels. `perByte` is 2
// for RLE4 (two pixels per byte), 1 for RLE8.
void AppendRleRow(QByteArray &out, const IndexRow &row, int perByte) {
  const int n = int(row.size());
  int i = 0;
  while (i < n) {
    int run = 1;
    while (i + run < n && run < 255 && row[i + run] == row[i])
      ++run;
    if (run >= 2) {
      out.append(char(run));
      out.append(char(perByte == 2 ? (row[i] << 4) | row[i] : row[i]));
      i += run;
      continue;
    }
    // Absolute stretch up to the next pair of equal pixels.
    int len = 1;
    while (i + len < n && len < 254 && !(i + len + 1 < n && row[i + len] == row[i + len + 1]))
      ++len;
    if (len < 3) {
      for (int k = 0; k < len; ++k) {
        out.append(char(1));
        out.append(char(perByte == 2 ? (row[i + k] << 4) : row[i + k]));
      }
      i += len;
      continue;
    }
    out.append(char(0));
    out.append(char(len));
    int written = 0;
    if (perByte == 1) {
      for (int k = 0; k < len; ++k)
        out.append(char(row[i + k]));
      written = len;
    } else {
      for (int k = 0; k < len; k += 2) {
        const int hi = row[i + k];
        const int lo = k + 1 < len ? row[i + k + 1] : 0;
        out.append(char((hi << 4) | lo));
        ++written;
      }
    }
    if (written % 2)
      out.append(char(0));
    i += len;
  }
}

} // namespace

QByteArray WriteBmp(const QImage &picture, const BmpFormat &format) {
  using C = BmpFormat::Compression;
  const int w = picture.width();
  const int h = picture.height();
  const int bpp = format.bitsPerPixel;
  const bool core = format.headerSize == 12;
  const bool indexed = bpp <= 8;

  QList<QRgb> palette = format.palette;
  if (indexed && palette.isEmpty()) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const QRgb c = picture.pixel(x, y) & 0xFFFFFF;
        if (!palette.contains(c))
          palette.append(c);
      }
  }
  if (indexed && palette.size() > (1 << bpp))
    throw std::invalid_argument("picture has more colours than the format holds");
  // A core header has no colour count: its palette is always full.
  QList<QRgb> stored = palette;
  if (core && indexed)
    while (stored.size() < (1 << bpp))
      stored.append(0);

  std::uint32_t rMask = format.redMask, gMask = format.greenMask, bMask = format.blueMask,
                aMask = format.alphaMask;
  if (format.compression == C::BitFields && rMask == 0 && gMask == 0 && bMask == 0) {
    if (bpp == 16) {
      rMask = 0xF800;
      gMask = 0x07E0;
      bMask = 0x001F;
    } else {
      rMask = 0xFF0000;
      gMask = 0x00FF00;
      bMask = 0x0000FF;
    }
  }

  auto indexOf = [&](int x, int y) {
    const int i = int(palette.indexOf(picture.pixel(x, y) & 0xFFFFFF));
    if (i < 0)
      throw std::invalid_argument("colour not in palette");
    return i;
  };

  // Pixel data, rows in file order.
  QByteArray pixels;
  for (int fileRow = 0; fileRow < h; ++fileRow) {
    const int y = format.topDown ? fileRow : h - 1 - fileRow;
    if (format.compression == C::Rle) {
      IndexRow row(w);
      for (int x = 0; x < w; ++x)
        row[x] = indexOf(x, y);
      AppendRleRow(pixels, row, bpp == 4 ? 2 : 1);
      pixels.append(char(0));
      pixels.append(char(fileRow == h - 1 ? 1 : 0));
      continue;
    }
    QByteArray line;
    if (indexed) {
      int acc = 0, used = 0;
      for (int x = 0; x < w; ++x) {
        acc = (acc << bpp) | indexOf(x, y);
        used += bpp;
        if (used == 8) {
          line.append(char(acc));
          acc = used = 0;
        }
      }
      if (used)
        line.append(char(acc << (8 - used)));
    } else {
      for (int x = 0; x < w; ++x) {
        const QRgb c = picture.pixel(x, y);
        const int r = qRed(c), g = qGreen(c), b = qBlue(c);
        if (format.compression == C::BitFields) {
          const std::uint32_t v = IntoMask(r, rMask) | IntoMask(g, gMask) | IntoMask(b, bMask) |
                                  IntoMask(format.alpha, aMask);
          if (bpp == 16)
            Append16(line, v);
          else
            Append32(line, v);
        } else if (bpp == 16) {
          Append16(line, std::uint32_t(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)));
        } else {
          line.append(char(b));
          line.append(char(g));
          line.append(char(r));
          if (bpp == 32)
            line.append(char(format.filler));
        }
      }
    }
    while (line.size() % 4)
      line.append(char(0));
    pixels.append(line);
  }

  if (!format.pixelData.isEmpty())
    pixels = format.pixelData;

  // Info header.
  QByteArray info;
  if (core) {
    Append32(info, 12);
    Append16(info, std::uint32_t(w));
    Append16(info, std::uint32_t(h));
    Append16(info, 1);
    Append16(info, std::uint32_t(bpp));
  } else {
    std::uint32_t compression = 0;
    if (format.compression == C::Rle)
      compression = bpp == 4 ? 2 : 1;
    else if (format.compression == C::BitFields)
      compression = 3;
    Append32(info, std::uint32_t(format.headerSize));
    Append32(info, std::uint32_t(w));
    Append32(info, std::uint32_t(format.topDown ? -h : h));
    Append16(info, 1);
    Append16(info, std::uint32_t(bpp));
    Append32(info, compression);
    Append32(info, std::uint32_t(pixels.size()));
    Append32(info, 2835);
    Append32(info, 2835);
    Append32(info, indexed ? std::uint32_t(stored.size()) : 0);
    Append32(info, 0);
    if (format.headerSize > 40) {
      Append32(info, rMask);
      Append32(info, gMask);
      Append32(info, bMask);
      if (format.headerSize >= 56)
        Append32(info, aMask);
      if (format.headerSize >= 108)
        Append32(info, 0x73524742); // 'sRGB'
    }
    while (info.size() < format.headerSize)
      info.append(char(0));
    if (format.headerSize == 40 && format.compression == C::BitFields) {
      Append32(info, rMask);
      Append32(info, gMask);
      Append32(info, bMask);
    }
  }
  for (QRgb c : stored) {
    info.append(char(qBlue(c)));
    info.append(char(qGreen(c)));
    info.append(char(qRed(c)));
    if (!core)
      info.append(char(0));
  }

  QByteArray file("BM");
  const std::uint32_t offset = 14 + std::uint32_t(info.size());
  Append32(file, offset + std::uint32_t(pixels.size()));
  Append32(file, 0);
  Append32(file, offset);
  file.append(info);
  file.append(pixels);
  return file;
}

} // namespace pellicar::test
