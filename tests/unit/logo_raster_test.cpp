// The column raster of one bitmap file: every stored variant of a picture
// gives the same record, and the record's layout and colour rule hold on
// small pictures whose bytes are known.

#include "logo/logo_picture.h"
#include "logo/logo_raster.h"
#include "support/bmp_writer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace pellicar {
namespace {

using test::BmpFormat;
using test::WriteBmp;
using C = BmpFormat::Compression;

constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kBlack = 0x000000;

std::string Hex(const QByteArray &bytes) { return bytes.toHex(' ').toStdString(); }

QImage Picture(int w, int h, const std::function<QRgb(int, int)> &colour) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, 0xFF000000 | colour(x, y));
  return image;
}

// The record as the printer reads it, built pixel by pixel from the
// picture: columns left to right, y bytes each, bit 7 the top row.
QByteArray ExpectedRecord(const QImage &picture, const std::function<bool(QRgb)> &isDot) {
  const int w = picture.width(), h = picture.height();
  const int x = (w + 7) / 8, y = (h + 7) / 8;
  QByteArray record;
  record.append(char(x & 0xFF)).append(char(x >> 8)).append(char(y & 0xFF)).append(char(y >> 8));
  for (int c = 0; c < 8 * x; ++c)
    for (int j = 0; j < y; ++j) {
      int byte = 0;
      for (int bit = 0; bit < 8; ++bit) {
        const int r = 8 * j + bit;
        if (c < w && r < h && isDot(picture.pixel(c, r) & 0xFFFFFF))
          byte |= 0x80 >> bit;
      }
      record.append(char(byte));
    }
  return record;
}

struct Converted {
  LogoPicture::Fault fault;
  QByteArray record;
};

Converted Convert(const QByteArray &file) {
  QTemporaryDir dir;
  const QString path = test::SaveFile(dir.path(), QStringLiteral("logo.bmp"), file);
  const LogoPicture picture = LogoPicture::Load(path, kLogoCapacity - kLogoCommandBytes);
  return {picture.fault, picture.record};
}

QByteArray RecordOf(const QImage &picture, const BmpFormat &format) {
  const Converted c = Convert(WriteBmp(picture, format));
  EXPECT_EQ(c.fault, LogoPicture::Fault::None);
  return c.record;
}

BmpFormat Format(int bpp, C compression = C::Rgb, bool topDown = false, int headerSize = 40) {
  BmpFormat f;
  f.bitsPerPixel = bpp;
  f.compression = compression;
  f.topDown = topDown;
  f.headerSize = headerSize;
  return f;
}

struct Variant {
  const char *name;
  BmpFormat format;
};

// Variants that hold any picture of up to 16 colours.
std::vector<Variant> ColourVariants() {
  BmpFormat alpha0 = Format(32, C::BitFields, false, 124);
  alpha0.alphaMask = 0xFF000000;
  alpha0.alpha = 0; // fully transparent: alpha must not matter
  BmpFormat filler = Format(32);
  filler.filler = 0x7F;
  BmpFormat tenBit = Format(32, C::BitFields, true, 108);
  tenBit.redMask = 0x3FF00000;
  tenBit.greenMask = 0x000FFC00;
  tenBit.blueMask = 0x000003FF;
  BmpFormat argb4444 = Format(16, C::BitFields, false, 56);
  argb4444.redMask = 0x0F00;
  argb4444.greenMask = 0x00F0;
  argb4444.blueMask = 0x000F;
  argb4444.alphaMask = 0xF000;
  argb4444.alpha = 0;
  return {
      {"4 bit", Format(4)},
      {"4 bit RLE", Format(4, C::Rle)},
      {"4 bit top-down", Format(4, C::Rgb, true)},
      {"4 bit core header", Format(4, C::Rgb, false, 12)},
      {"8 bit", Format(8)},
      {"8 bit RLE", Format(8, C::Rle)},
      {"8 bit top-down", Format(8, C::Rgb, true)},
      {"8 bit core header", Format(8, C::Rgb, false, 12)},
      {"8 bit v5 header", Format(8, C::Rgb, false, 124)},
      {"16 bit 5-5-5", Format(16)},
      {"16 bit 5-6-5 bit fields", Format(16, C::BitFields)},
      {"16 bit 5-6-5 top-down, 52-byte header", Format(16, C::BitFields, true, 52)},
      {"16 bit 4-4-4 with transparent alpha", argb4444},
      {"24 bit", Format(24)},
      {"24 bit top-down", Format(24, C::Rgb, true)},
      {"24 bit core header", Format(24, C::Rgb, false, 12)},
      {"24 bit v4 header", Format(24, C::Rgb, false, 108)},
      {"32 bit", filler},
      {"32 bit top-down", Format(32, C::Rgb, true)},
      {"32 bit bit fields", Format(32, C::BitFields)},
      {"32 bit v5, alpha 0", alpha0},
      {"32 bit 10-bit channels", tenBit},
  };
}

TEST(LogoRaster, OnePictureGivesOneRasterInEveryVariant) {
  // 21 × 19: neither side a multiple of 8, so padding columns and rows
  // are both exercised; the diagonal tells left from right and top from
  // bottom.
  const QImage blackWhite = Picture(
      21, 19, [](int x, int y) { return (x == y || (x * 3 + y * 5) % 7 < 2) ? kBlack : kWhite; });
  const QByteArray expected = ExpectedRecord(blackWhite, [](QRgb c) { return c != kWhite; });

  std::vector<Variant> variants = ColourVariants();
  BmpFormat whiteBlack = Format(1);
  whiteBlack.palette = {kWhite, kBlack};
  BmpFormat blackWhitePalette = Format(1, C::Rgb, true);
  blackWhitePalette.palette = {kBlack, kWhite};
  BmpFormat core1 = Format(1, C::Rgb, false, 12);
  core1.palette = {kBlack, kWhite};
  variants.push_back({"1 bit (white, black)", whiteBlack});
  variants.push_back({"1 bit (black, white) top-down", blackWhitePalette});
  variants.push_back({"1 bit core header", core1});

  for (const Variant &v : variants) {
    SCOPED_TRACE(v.name);
    EXPECT_EQ(Hex(RecordOf(blackWhite, v.format)), Hex(expected));
  }
}

TEST(LogoRaster, EveryColourButWhitePrintsInEveryVariant) {
  // Light colours chosen so that even 4-bit channels keep them apart from
  // white; in the 16-bit variants pure white must stay blank although the
  // file cannot hold 255.
  const QList<QRgb> colours = {kWhite,   kBlack,   0xE8E8E8, 0xFFFF00,
                               0xFF00FF, 0x00FFFF, 0xE0E0FF, 0x808080};
  const QImage picture =
      Picture(13, 10, [&](int x, int y) { return colours[(x + 2 * y) % colours.size()]; });
  const QByteArray expected = ExpectedRecord(picture, [](QRgb c) { return c != kWhite; });
  for (const Variant &v : ColourVariants()) {
    SCOPED_TRACE(v.name);
    EXPECT_EQ(Hex(RecordOf(picture, v.format)), Hex(expected));
  }
}

TEST(LogoRaster, NearWhitePrintsOnlyPureWhiteStaysBlank) {
  const QImage picture = Picture(3, 1, [](int x, int) {
    return x == 0 ? QRgb(0xFEFEFE) : x == 1 ? kWhite : QRgb(0xFFFFFE);
  });
  for (int bpp : {8, 24, 32}) {
    SCOPED_TRACE(bpp);
    EXPECT_EQ(Hex(RecordOf(picture, Format(bpp))), "01 00 01 00 80 00 80 00 00 00 00 00");
  }
}

TEST(LogoRaster, KnownRecords) {
  struct Case {
    const char *name;
    int w, h;
    const char *hex;
  };
  // All-black pictures.
  const Case cases[] = {
      {"1 x 1", 1, 1, "01 00 01 00 80 00 00 00 00 00 00 00"},
      {"8 wide: no padding column", 8, 1, "01 00 01 00 80 80 80 80 80 80 80 80"},
      {"9 wide: x = 2, seven zero columns", 9, 1,
       "02 00 01 00 80 80 80 80 80 80 80 80 80 00 00 00 00 00 00 00"},
      {"9 tall: row 8 is bit 7 of the second byte", 1, 9,
       "01 00 02 00 ff 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const QImage black = Picture(c.w, c.h, [](int, int) { return kBlack; });
    EXPECT_EQ(Hex(RecordOf(black, Format(24))), c.hex);
    BmpFormat mono = Format(1);
    mono.palette = {kWhite, kBlack};
    EXPECT_EQ(Hex(RecordOf(black, mono)), c.hex);
  }
}

// An RLE stream written by hand, for 8 or 4 bits per pixel.
class RleStream {
public:
  explicit RleStream(int bits) : bits_(bits) {}
  RleStream &Run(int count, int index) {
    return Bytes({count, bits_ == 4 ? (index << 4) | index : index});
  }
  RleStream &Stretch(const std::vector<int> &indices) {
    Bytes({0, int(indices.size())});
    QByteArray data;
    for (std::size_t i = 0; i < indices.size(); ++i) {
      if (bits_ == 8)
        data += char(indices[i]);
      else if (i % 2 == 0)
        data += char(indices[i] << 4);
      else
        data.back() = char(data.back() | indices[i]);
    }
    if (data.size() % 2)
      data += '\0';
    bytes_ += data;
    return *this;
  }
  RleStream &Delta(int right, int rows) { return Bytes({0, 2, right, rows}); }
  RleStream &EndOfLine() { return Bytes({0, 0}); }
  RleStream &EndOfBitmap() { return Bytes({0, 1}); }
  const QByteArray &bytes() const { return bytes_; }

private:
  RleStream &Bytes(std::initializer_list<int> values) {
    for (int v : values)
      bytes_ += char(v);
    return *this;
  }
  int bits_;
  QByteArray bytes_;
};

TEST(LogoRaster, PixelsAnRleStreamSkipsPrintNothing) {
  // Index 0 is black: a skipped pixel read as index 0 (or as whatever the
  // memory held) would print. Index 1 is white, index 2 red.
  const QList<QRgb> palette = {kBlack, kWhite, 0xFF0000};
  struct Case {
    const char *name;
    std::function<void(RleStream &)> write; // stored rows: the bottom one first
    std::vector<const char *> rows;         // top row first; '#' a dot
  };
  const Case cases[] = {
      {"delta within a row",
       [](RleStream &s) {
         s.Run(2, 2).Delta(2, 0).Run(2, 2).EndOfLine();
         s.Run(6, 1).EndOfLine().Run(6, 1).EndOfBitmap();
       },
       {"......", "......", "##..##"}},
      {"delta to a later row",
       [](RleStream &s) { s.Run(1, 2).Delta(2, 2).Run(1, 2).EndOfBitmap(); },
       {"...#..", "......", "#....."}},
      {"end of line before the row is full",
       [](RleStream &s) {
         s.Run(3, 2).EndOfLine().Stretch({1, 2, 1}).EndOfLine().Run(6, 2).EndOfBitmap();
       },
       {"######", ".#....", "###..."}},
      {"end of bitmap inside a row",
       [](RleStream &s) { s.Run(6, 1).EndOfLine().Run(2, 2).EndOfBitmap(); },
       {"......", "##....", "......"}},
      {"end of bitmap before the last row",
       [](RleStream &s) { s.Run(6, 2).EndOfLine().EndOfBitmap(); },
       {"......", "......", "######"}},
      {"nothing but the end mark",
       [](RleStream &s) { s.EndOfBitmap(); },
       {"......", "......", "......"}},
  };
  for (const Case &c : cases) {
    const QImage expected =
        Picture(6, 3, [&](int x, int y) { return c.rows[y][x] == '#' ? kBlack : kWhite; });
    for (int bits : {8, 4}) {
      SCOPED_TRACE(std::string(c.name) + (bits == 8 ? ", RLE8" : ", RLE4"));
      RleStream stream(bits);
      c.write(stream);
      BmpFormat format = Format(bits, C::Rle);
      format.palette = palette;
      format.pixelData = stream.bytes();
      const QImage size = Picture(6, 3, [](int, int) { return kBlack; });
      EXPECT_EQ(Hex(RecordOf(size, format)),
                Hex(ExpectedRecord(expected, [](QRgb colour) { return colour == kBlack; })));
    }
  }
}

TEST(LogoRaster, OneBitPaletteDecidesByBlue) {
  // Neither colour is white: a one-bit file keeps its palette and prints
  // where blue is below 128.
  const QImage picture = Picture(2, 1, [](int x, int) { return x == 0 ? 0xFFFF7F : 0x000080; });
  BmpFormat mono = Format(1);
  mono.palette = {0xFFFF7F, 0x000080};
  EXPECT_EQ(Hex(RecordOf(picture, mono)), "01 00 01 00 80 00 00 00 00 00 00 00");
  mono.palette = {0x000080, 0xFFFF7F}; // the same picture, bits inverted
  EXPECT_EQ(Hex(RecordOf(picture, mono)), "01 00 01 00 80 00 00 00 00 00 00 00");
}

TEST(LogoRaster, WidthLimitAndRecordSize) {
  const QImage wide = Picture(576, 100, [](int x, int y) { return (x + y) % 3 ? kWhite : kBlack; });
  const QByteArray record = RecordOf(wide, Format(1));
  EXPECT_EQ(record.size(), 7488 + 4);
  EXPECT_EQ(Hex(record.left(4)), "48 00 0d 00"); // x = 72, y = 13

  const QImage tooWide = Picture(577, 1, [](int, int) { return kBlack; });
  EXPECT_EQ(Convert(WriteBmp(tooWide, Format(24))).fault, LogoPicture::Fault::Invalid);
}

TEST(LogoRaster, RoomIsCheckedBeforeDecoding) {
  // 8 × 8 takes 4 + 8 bytes.
  const QByteArray file = WriteBmp(Picture(8, 8, [](int, int) { return kBlack; }), Format(24));
  QTemporaryDir dir;
  const QString path = test::SaveFile(dir.path(), QStringLiteral("a.bmp"), file);
  EXPECT_EQ(LogoPicture::Load(path, 12).fault, LogoPicture::Fault::None);
  EXPECT_EQ(LogoPicture::Load(path, 11).fault, LogoPicture::Fault::TooLarge);
}

TEST(LogoPreview, ShowsTheDotsTheRasterPrints) {
  QTemporaryDir dir;
  const QImage picture = Picture(10, 3, [](int x, int y) { return x == y ? 0xFEFEFE : kWhite; });
  const QString path = test::SaveFile(dir.path(), QStringLiteral("p.bmp"),
                                      WriteBmp(picture, Format(24, C::Rgb, true)));
  const LogoPicture preview = LogoPicture::Preview(path);
  ASSERT_EQ(preview.fault, LogoPicture::Fault::None);
  ASSERT_EQ(preview.width, 10);
  ASSERT_EQ(preview.height, 3);
  for (int y = -1; y < 4; ++y)
    for (int x = -1; x < 11; ++x)
      EXPECT_EQ(preview.isDot(x, y), x == y && x >= 0 && y < 3) << x << "," << y;

  const QString wide =
      test::SaveFile(dir.path(), QStringLiteral("w.bmp"),
                     WriteBmp(Picture(577, 1, [](int, int) { return kBlack; }), Format(24)));
  EXPECT_NE(LogoPicture::Preview(wide).fault, LogoPicture::Fault::None);
  EXPECT_EQ(LogoPicture::Preview(dir.path() + QStringLiteral("/missing.bmp")).fault,
            LogoPicture::Fault::Missing);
}

} // namespace
} // namespace pellicar
