// Files that lie: truncated, absurd or contradictory headers. Each is
// refused (or, where a reader may take it, read without harm) without
// decoding what it claims and without a large allocation.

#include "logo/logo_picture.h"
#include "logo/logo_raster.h"
#include "support/bmp_writer.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <functional>

namespace pellicar {
namespace {

using test::BmpFormat;
using test::PutLe16;
using test::PutLe32;
using C = BmpFormat::Compression;
using Fault = LogoPicture::Fault;

constexpr qint64 kRoom = kLogoCapacity - kLogoCommandBytes;

LogoPicture ReadBytes(QByteArray bytes) {
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  return LogoPicture::Read(buffer, kRoom);
}

QImage Checkers(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
  return image;
}

QByteArray Bmp(int bpp, C compression = C::Rgb, int headerSize = 40, int w = 24, int h = 6) {
  BmpFormat f;
  f.bitsPerPixel = bpp;
  f.compression = compression;
  f.headerSize = headerSize;
  return test::WriteBmp(Checkers(w, h), f);
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(LogoHostile, AbsurdHeadersAreRefused) {
  struct Case {
    const char *name;
    std::function<void(QByteArray &)> patch;
    Fault fault;
  };
  // Offsets in a file with a 40-byte header: 18 width, 22 height,
  // 26 planes, 28 bits per pixel, 30 compression, 46 colours used,
  // 10 pixel offset, 14 header size; masks follow at 54.
  const Case cases[] = {
      {"100000 x 100000", [](QByteArray &b) { PutLe32(b, 18, 100000), PutLe32(b, 22, 100000); },
       Fault::Invalid},
      {"576 x 2^31-1", [](QByteArray &b) { PutLe32(b, 18, 576), PutLe32(b, 22, 0x7FFFFFFF); },
       Fault::Invalid},
      {"8 x 2^31-1 claimed by an RLE file",
       [](QByteArray &b) { PutLe32(b, 18, 8), PutLe32(b, 22, 0x7FFFFFFF); }, Fault::TooLarge},
      {"width 0", [](QByteArray &b) { PutLe32(b, 18, 0); }, Fault::Invalid},
      {"height 0", [](QByteArray &b) { PutLe32(b, 22, 0); }, Fault::Invalid},
      {"negative width", [](QByteArray &b) { PutLe32(b, 18, std::uint32_t(-24)); }, Fault::Invalid},
      {"height -2^31", [](QByteArray &b) { PutLe32(b, 22, 0x80000000u); }, Fault::Invalid},
      {"0 planes", [](QByteArray &b) { PutLe16(b, 26, 0); }, Fault::Invalid},
      {"2 bits per pixel", [](QByteArray &b) { PutLe16(b, 28, 2); }, Fault::Invalid},
      {"0 bits per pixel", [](QByteArray &b) { PutLe16(b, 28, 0); }, Fault::Invalid},
      {"64 bits per pixel", [](QByteArray &b) { PutLe16(b, 28, 64); }, Fault::Invalid},
      {"embedded JPEG", [](QByteArray &b) { PutLe32(b, 30, 4); }, Fault::Invalid},
      {"embedded PNG", [](QByteArray &b) { PutLe32(b, 30, 5); }, Fault::Invalid},
      {"RLE4 on 8 bits", [](QByteArray &b) { PutLe32(b, 30, 2); }, Fault::Invalid},
      {"unknown header size", [](QByteArray &b) { PutLe32(b, 14, 64); }, Fault::Invalid},
      {"header size 2^32-1", [](QByteArray &b) { PutLe32(b, 14, 0xFFFFFFFF); }, Fault::Invalid},
      {"pixels inside the header", [](QByteArray &b) { PutLe32(b, 10, 20); }, Fault::Invalid},
      {"pixels past the end", [](QByteArray &b) { PutLe32(b, 10, 0xFFFFFFF0); }, Fault::Invalid},
      {"4 billion colours used (read as 256)", [](QByteArray &b) { PutLe32(b, 46, 0xFFFFFFFF); },
       Fault::None},
      {"not BM", [](QByteArray &b) { b[1] = 'A'; }, Fault::Invalid},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    QByteArray file = QByteArray(c.name).contains("RLE file") ? Bmp(8, C::Rle) : Bmp(8);
    c.patch(file);
    const long before = PeakKilobytes();
    EXPECT_EQ(ReadBytes(file).fault, c.fault);
    EXPECT_LT(PeakKilobytes() - before, 64 * 1024) << "kilobytes allocated";
  }
}

TEST(LogoHostile, BadChannelMasksAreRefused) {
  const struct {
    const char *name;
    std::uint32_t r, g, b;
  } cases[] = {
      {"gap in a mask", 0xF0F000, 0x0F000F, 0x000F00},
      {"masks overlap", 0xFF0000, 0x01FF00, 0x0000FF},
      {"no blue", 0xFF0000, 0x00FF00, 0},
      {"past 16 bits", 0x1F0000, 0x07E0, 0x1F},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    QByteArray file = Bmp(16, C::BitFields);
    PutLe32(file, 54, c.r);
    PutLe32(file, 58, c.g);
    PutLe32(file, 62, c.b);
    EXPECT_EQ(ReadBytes(file).fault, Fault::Invalid);
  }
}

TEST(LogoHostile, TruncatedFilesAreRefusedAtEveryLength) {
  const struct {
    const char *name;
    QByteArray file;
  } cases[] = {
      {"1 bit", Bmp(1)},
      {"4 bit RLE", Bmp(4, C::Rle)},
      {"8 bit RLE", Bmp(8, C::Rle)},
      {"16 bit bit fields", Bmp(16, C::BitFields)},
      {"24 bit core header", Bmp(24, C::Rgb, 12)},
      {"32 bit v5 header", Bmp(32, C::BitFields, 124)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const LogoPicture whole = ReadBytes(c.file);
    ASSERT_EQ(whole.fault, Fault::None);
    // Rows are 4-byte aligned; a file may lack the padding of its last row,
    // and an RLE file its end mark, but nothing else.
    const QByteArray record = whole.record;
    for (qsizetype length = 0; length < c.file.size(); ++length) {
      SCOPED_TRACE(length);
      const LogoPicture cut = ReadBytes(c.file.left(length));
      if (cut.fault == Fault::None) {
        EXPECT_GE(length, c.file.size() - 3);
        EXPECT_EQ(cut.record, record);
      } else {
        EXPECT_EQ(cut.fault, Fault::Invalid);
        // Past "BM" it is a bitmap file that ends too soon, whatever part
        // of it is missing.
        EXPECT_EQ(cut.reason.toStdString(),
                  length < 2 ? (length == 0 ? "not a BMP file but an empty file" : "not a BMP file")
                             : "cut short before its last pixel");
      }
    }
  }
}

TEST(LogoHostile, TallRecordIsRefusedBeforeItsPixelsAreRead) {
  // An RLE file of a few bytes may claim any height. 8 × 65528 still fits
  // an empty set (4 + 8·8191 bytes); one row more does not, and is
  // refused before anything is decoded.
  QByteArray file = Bmp(8, C::Rle, 40, 8, 1);
  PutLe32(file, 22, 65529);
  EXPECT_EQ(ReadBytes(file).fault, Fault::TooLarge);
  PutLe32(file, 22, 65528);
  EXPECT_NE(ReadBytes(file).fault, Fault::TooLarge);
}

} // namespace
} // namespace pellicar
