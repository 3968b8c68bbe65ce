// The core's own bitmap decoder against the conversion it replaced (Qt's
// BMP reader, kept in tests/support as the reference): the same fault and
// the same record, bit for bit, for the seed corpora, every variant the
// bitmap writer makes, and random mutations of them.

#include "logo/logo_picture.h"
#include "logo/logo_raster.h"
#include "support/bmp_writer.h"
#include "support/qt_logo_reference.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::BmpFormat;
using C = BmpFormat::Compression;
constexpr qint64 kRoom = kLogoCapacity - kLogoCommandBytes;

// Returns whether both agree; says where they differ.
bool SameAsReference(QByteArray file, const std::string &name) {
  const test::ReferenceRecord expected = test::QtReferenceRecord(file, kRoom);
  QBuffer buffer(&file);
  buffer.open(QIODevice::ReadOnly);
  const LogoPicture actual = LogoPicture::Read(buffer, kRoom);
  EXPECT_EQ(int(actual.fault), int(expected.fault)) << name;
  EXPECT_EQ(actual.record.toHex().toStdString(), expected.record.toHex().toStdString()) << name;
  return actual.fault == expected.fault && actual.record == expected.record;
}

QImage Picture(int w, int h, const std::vector<QRgb> &colours) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y,
                     0xFF000000 | colours[std::size_t(x * 7 + y * 3 + x * y) % colours.size()]);
  return image;
}

// Every format the writer makes, on a two-colour and a many-colour picture
// (near-whites that a narrow channel rounds to white, or does not).
std::vector<std::pair<std::string, QByteArray>> WriterVariants() {
  const std::vector<QRgb> two = {0xFFFFFF, 0x000000};
  const std::vector<QRgb> many = {0xFFFFFF, 0x000000, 0xFEFEFE, 0xFFFFF8, 0xF8FCF8,
                                  0x7F7F7F, 0x0000FF, 0xFF0000, 0xFFFF7F, 0xFFFF80};
  struct Masks {
    std::uint32_t r, g, b, a;
  };
  const std::vector<Masks> masks16 = {
      {0x7C00, 0x03E0, 0x001F, 0}, {0xF800, 0x07E0, 0x001F, 0}, {0x0F00, 0x00F0, 0x000F, 0xF000}};
  const std::vector<Masks> masks32 = {{0xFF0000, 0xFF00, 0xFF, 0},
                                      {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
                                      {0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
                                      {0xFF, 0xFF00, 0xFF0000, 0}};
  std::vector<std::pair<std::string, QByteArray>> out;
  for (int bpp : {1, 4, 8, 16, 24, 32})
    for (C compression : {C::Rgb, C::Rle, C::BitFields})
      for (int header : {12, 40, 52, 56, 108, 124})
        for (bool topDown : {false, true}) {
          if ((compression == C::Rle && bpp != 4 && bpp != 8) ||
              (compression == C::BitFields && bpp != 16 && bpp != 32) ||
              (header == 12 && (compression != C::Rgb || bpp == 16 || bpp == 32 || topDown)))
            continue;
          const std::vector<Masks> &masks = compression != C::BitFields ? std::vector<Masks>{{}}
                                            : bpp == 16                 ? masks16
                                                                        : masks32;
          for (const Masks &m : masks)
            for (const QImage &picture : {Picture(13, 11, two), Picture(17, 9, many)}) {
              if (bpp == 1 && picture.width() != 13)
                continue;
              BmpFormat f;
              f.bitsPerPixel = bpp;
              f.compression = compression;
              f.headerSize = header;
              f.topDown = topDown;
              f.redMask = m.r, f.greenMask = m.g, f.blueMask = m.b, f.alphaMask = m.a;
              f.filler = 0x5A;
              std::string name = std::to_string(bpp) + " bit, " + std::to_string(header) +
                                 " header, compression " + std::to_string(int(compression)) +
                                 (topDown ? ", top-down" : "") + ", " +
                                 std::to_string(picture.width()) + " wide";
              if (bpp == 1)
                for (const QList<QRgb> &palette :
                     {QList<QRgb>{0xFFFFFF, 0x000000}, QList<QRgb>{0x000000, 0xFFFFFF},
                      QList<QRgb>{0xFFFF7F, 0x000080}}) {
                  f.palette = palette;
                  out.emplace_back(name + ", palette " + std::to_string(palette[0]),
                                   test::WriteBmp(Picture(13, 11, {palette[0], palette[1]}), f));
                }
              else
                out.emplace_back(name + ", masks " + std::to_string(m.r),
                                 test::WriteBmp(picture, f));
            }
        }
  // The largest pictures an empty set takes.
  BmpFormat f;
  out.emplace_back("576 x 113, 24 bit", test::WriteBmp(Picture(576, 113, many), f));
  f.bitsPerPixel = 1;
  out.emplace_back("8 x 65528, 1 bit", test::WriteBmp(Picture(8, 65528, two), f));
  return out;
}

TEST(LogoReference, SeedCorporaAndWriterVariantsConvertAsBefore) {
  std::vector<std::pair<std::string, QByteArray>> files = WriterVariants();
  for (const QString &folder : {QStringLiteral(PELLICAR_SOURCE_DIR "/tests/fuzz/corpus"),
                                QStringLiteral(PELLICAR_SOURCE_DIR "/docs")}) {
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.bmp")}, QDir::Files)) {
      QFile file(dir.filePath(name));
      ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
      files.emplace_back(name.toStdString(), file.readAll());
    }
  }
  ASSERT_GT(files.size(), 200u);
  int accepted = 0;
  for (const auto &[name, bytes] : files) {
    SameAsReference(bytes, name);
    accepted += test::QtReferenceRecord(bytes, kRoom).fault == LogoPicture::Fault::None;
  }
  EXPECT_EQ(accepted, int(files.size())) << "every variant is one both read";

  // Mutants: a few bytes anywhere set to random values (seeded, so a
  // failure repeats); most are still read, with other sizes, palettes,
  // masks, offsets or pixels.
  QRandomGenerator random(24);
  int differing = 0, mutants = 0, mutantsRead = 0;
  for (const auto &[name, bytes] : files) {
    if (bytes.size() > 100000)
      continue;
    for (int m = 0; m < 40 && differing < 5; ++m) {
      QByteArray mutant = bytes;
      const int changes = 1 + int(random.bounded(3));
      for (int i = 0; i < changes; ++i) {
        // Half of the changes hit the headers, where they matter most.
        const qsizetype at = random.bounded(2) ? random.bounded(qMin<qsizetype>(70, mutant.size()))
                                               : random.bounded(mutant.size());
        mutant[at] = char(random.bounded(256));
      }
      differing += !SameAsReference(mutant, name + ", mutant " + std::to_string(m));
      ++mutants;
      mutantsRead += test::QtReferenceRecord(mutant, kRoom).fault == LogoPicture::Fault::None;
    }
  }
  // Enough of them are pictures, not refusals, for the comparison to count.
  EXPECT_GT(mutantsRead, mutants / 3) << mutantsRead << " of " << mutants << " mutants read";
}

} // namespace
} // namespace pellicar
