// How long rebuilding a full logo memory takes: 254 bitmap files in seven
// stored variants whose records fill the 65539 bytes exactly, rebuilt
// again and again as every add and delete does. Two figures: every file
// converted (no cache: the command-line tool, or a set whose files all
// changed), and the logo set's rebuild, which reads every file but
// converts only those whose bytes it has not converted before.
//
//   logo_bench [repetitions]

#include "logo/logo_raster.h"
#include "logo/logo_record_cache.h"
#include "logo/logo_set.h"
#include "support/bmp_writer.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using pellicar::test::BmpFormat;
using C = BmpFormat::Compression;

struct Variant {
  const char *name;
  BmpFormat format;
};

std::vector<Variant> Variants() {
  auto make = [](int bpp, C compression, bool topDown, int headerSize) {
    BmpFormat f;
    f.bitsPerPixel = bpp;
    f.compression = compression;
    f.topDown = topDown;
    f.headerSize = headerSize;
    return f;
  };
  BmpFormat v5 = make(32, C::BitFields, false, 124);
  v5.alphaMask = 0xFF000000;
  return {
      {"1 bit", make(1, C::Rgb, false, 40)},
      {"4 bit RLE", make(4, C::Rle, false, 40)},
      {"8 bit", make(8, C::Rgb, false, 40)},
      {"8 bit RLE", make(8, C::Rle, false, 40)},
      {"16 bit 5-6-5", make(16, C::BitFields, false, 40)},
      {"24 bit top-down", make(24, C::Rgb, true, 40)},
      {"32 bit v5", v5},
  };
}

QImage Pattern(int w, int h, int seed, bool twoColours) {
  static const QRgb kColours[] = {0xFFFFFF, 0x000000, 0xFEFEFE, 0x808080,
                                  0xFF0000, 0x00C000, 0x2040FF, 0xE0E0E0};
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // Stretches of one colour and stretches of mixed ones, so that the
      // RLE files hold runs and absolute stretches.
      const int k = ((x / 5) * 7 + y * 3 + seed) % 11 < 6 ? 0 : (x * 13 + y * 7 + seed) % 8;
      image.setPixel(x, y, 0xFF000000 | kColours[twoColours ? k % 2 : k]);
    }
  return image;
}

bool Rebuild(const QStringList &files, QByteArray &data, pellicar::LogoRecordCache *cache) {
  const std::optional<pellicar::LogoFailure> failure = pellicar::BuildLogoData(files, data, cache);
  if (!failure && data.size() == pellicar::kLogoCapacity)
    return true;
  std::fprintf(stderr, "rebuild failed at entry %lld: %s (%lld bytes)\n",
               failure ? static_cast<long long>(failure->entry) : -1LL,
               failure ? qPrintable(failure->text) : "", static_cast<long long>(data.size()));
  return false;
}

} // namespace

int main(int argc, char **argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  QTemporaryDir dir;
  if (!dir.isValid()) {
    std::fprintf(stderr, "cannot make a temporary folder\n");
    return 1;
  }

  // 254 records: 4·254 + 8·Σxy = 65536 with Σxy = 8065 = 253·31 + 222.
  // Widths and heights are not multiples of 8, so every record pads.
  const std::vector<Variant> variants = Variants();
  QStringList files;
  qint64 fileBytes = 0;
  for (int i = 0; i < 254; ++i) {
    int w, h;
    if (i == 253) {
      w = 8 * 6 - 3;
      h = 8 * 37 - 2;
    } else if (i % 2) {
      w = 8 * 1 - 3;
      h = 8 * 31 - 2;
    } else {
      w = 8 * 31 - 3;
      h = 8 * 1 - 2;
    }
    const Variant &v = variants[std::size_t(i) % variants.size()];
    const QByteArray bytes =
        pellicar::test::WriteBmp(Pattern(w, h, i, v.format.bitsPerPixel == 1), v.format);
    fileBytes += bytes.size();
    files.append(pellicar::test::SaveFile(dir.path(), QStringLiteral("logo%1.bmp").arg(i), bytes));
  }

  std::printf("logo set: %lld files (%zu variants, %lld bytes on disk) -> %d bytes of logo data\n",
              static_cast<long long>(files.size()), variants.size(),
              static_cast<long long>(fileBytes), int(pellicar::kLogoCapacity));
  // Untimed: fills the page cache, and the cache of the second figure.
  pellicar::LogoRecordCache cache;
  QByteArray data;
  if (!Rebuild(files, data, &cache))
    return 1;
  const struct {
    const char *name;
    pellicar::LogoRecordCache *cache;
  } kinds[] = {{"every file converted", nullptr}, {"as the logo set rebuilds", &cache}};
  for (const auto &kind : kinds) {
    std::vector<double> ms;
    for (int r = 0; r < repetitions; ++r) {
      QElapsedTimer timer;
      timer.start();
      if (!Rebuild(files, data, kind.cache))
        return 1;
      ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("full rebuild, %s, over %d runs: min %.2f ms, median %.2f ms, max %.2f ms\n",
                kind.name, repetitions, ms.front(), ms[ms.size() / 2], ms.back());
  }
  std::printf("files converted with the cache: %lld (once, before the timed runs)\n",
              static_cast<long long>(cache.conversions()));
  return 0;
}
