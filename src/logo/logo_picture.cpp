#include "logo/logo_picture.h"

#include "logo/bmp_header.h"
#include "logo/logo_raster.h"
#include "logo/logo_record_cache.h"
#include "logo/rle_decoder.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace pellicar {

namespace {

// The largest record an empty logo set can take.
constexpr qint64 kRoomOfEmptySet = kLogoCapacity - kLogoCommandBytes;

// Which palette indices print: with one bit per pixel the colour whose
// blue is below 128, otherwise every colour but white. An index without a
// colour is black.
std::array<bool, 256> DotIndices(const std::vector<std::uint32_t> &palette, int bitsPerPixel) {
  std::array<bool, 256> isDot;
  isDot.fill(true);
  for (std::size_t i = 0; i < std::min<std::size_t>(palette.size(), 256); ++i) {
    const std::uint32_t c = palette[i];
    isDot[i] = bitsPerPixel == 1 ? (c & 0xFF) < 128 : (c & 0xFFFFFF) != 0xFFFFFF;
  }
  return isDot;
}

// A record of w × h with its header written and every dot clear.
QByteArray NewRecord(qint64 w, qint64 h) {
  const qint64 x = (w + 7) / 8;
  const qint64 y = (h + 7) / 8;
  QByteArray record(LogoRecordSize(w, h), '\0');
  record[0] = char(x & 0xFF);
  record[1] = char((x >> 8) & 0xFF);
  record[2] = char(y & 0xFF);
  record[3] = char((y >> 8) & 0xFF);
  return record;
}

// Dots of one displayed row r go to byte r / 8 of every column, which
// lies y bytes after the one of the column before.
struct RasterRow {
  char *cell;
  qint64 y;
  char bit;
  void set(qint64 c) const { cell[c * y] |= bit; }
};

// Pixels of an uncompressed file (`pixels` holds every row, padding
// included). A direct colour is white when each channel mask is full:
// the masks are at most 8 bits wide (BmpHeader keeps the top 8 bits of a
// wider one), which is the resolution the colour rule looks at.
void DecodeRows(const BmpHeader &header, const QByteArray &pixels, char *raster) {
  const qint64 w = header.width;
  const qint64 h = header.height;
  const qint64 y = (h + 7) / 8;
  const qint64 stride = header.stride();
  const std::array<bool, 256> isDot = DotIndices(header.palette, header.bitsPerPixel);
  const std::uint32_t white = header.redMask | header.greenMask | header.blueMask;
  const auto *data = reinterpret_cast<const std::uint8_t *>(pixels.constData());
  for (qint64 r = 0; r < h; ++r) {
    const std::uint8_t *p = data + (header.topDown ? r : h - 1 - r) * stride;
    const RasterRow row{raster + r / 8, y, char(0x80 >> (r % 8))};
    switch (header.bitsPerPixel) {
    case 1:
      for (qint64 c = 0; c < w; ++c)
        if (isDot[(p[c / 8] >> (7 - c % 8)) & 1])
          row.set(c);
      break;
    case 4:
      for (qint64 c = 0; c < w; ++c)
        if (isDot[c % 2 ? p[c / 2] & 0x0F : p[c / 2] >> 4])
          row.set(c);
      break;
    case 8:
      for (qint64 c = 0; c < w; ++c)
        if (isDot[p[c]])
          row.set(c);
      break;
    case 16:
      for (qint64 c = 0; c < w; ++c) {
        const std::uint32_t v = p[2 * c] | std::uint32_t(p[2 * c + 1]) << 8;
        if ((v & white) != white)
          row.set(c);
      }
      break;
    case 24:
      for (qint64 c = 0; c < w; ++c) {
        const std::uint8_t *q = p + 3 * c;
        const std::uint32_t v = q[0] | std::uint32_t(q[1]) << 8 | std::uint32_t(q[2]) << 16;
        if ((v & white) != white)
          row.set(c);
      }
      break;
    case 32:
      for (qint64 c = 0; c < w; ++c) {
        const std::uint8_t *q = p + 4 * c;
        const std::uint32_t v =
            q[0] | std::uint32_t(q[1]) << 8 | std::uint32_t(q[2]) << 16 | std::uint32_t(q[3]) << 24;
        if ((v & white) != white)
          row.set(c);
      }
      break;
    }
  }
}

// Pixels the stream skipped print nothing.
void RleToRaster(const std::vector<std::int16_t> &indices, const BmpHeader &header, char *raster) {
  const std::array<bool, 256> isDot = DotIndices(header.palette, header.bitsPerPixel);
  const qint64 w = header.width;
  const qint64 h = header.height;
  const qint64 y = (h + 7) / 8;
  for (qint64 r = 0; r < h; ++r) {
    const std::int16_t *index = indices.data() + r * w;
    const RasterRow row{raster + r / 8, y, char(0x80 >> (r % 8))};
    for (qint64 c = 0; c < w; ++c)
      if (index[c] != RleDecoder::kSkipped && isDot[index[c] & 0xFF])
        row.set(c);
  }
}

LogoPicture Refused(LogoPicture::Fault fault, QString reason) {
  LogoPicture p;
  p.fault = fault;
  p.reason = std::move(reason);
  return p;
}

// What a file that is not a bitmap holds, by its first bytes, for the
// message; empty when it is none of the pictures a picture dialog offers.
QString KindOfFile(const QByteArray &head) {
  static const struct {
    QByteArrayView magic;
    qsizetype at;
    const char *kind;
  } kKinds[] = {
      {"\x89PNG\r\n\x1A\n", 0, "a PNG image"},
      {"\xFF\xD8\xFF", 0, "a JPEG image"},
      {"GIF8", 0, "a GIF image"},
      {QByteArrayView("II*\0", 4), 0, "a TIFF image"},
      {QByteArrayView("MM\0*", 4), 0, "a TIFF image"},
      {"WEBP", 8, "a WebP image"},
      {QByteArrayView("\0\0\1\0", 4), 0, "an icon"},
      {" EMF", 40, "an enhanced metafile (EMF)"},
      {"\xD7\xCD\xC6\x9A", 0, "a Windows metafile (WMF)"},
      {"%PDF", 0, "a PDF document"},
  };
  if (head.isEmpty())
    return QStringLiteral("an empty file");
  for (const auto &k : kKinds)
    if (head.mid(k.at).startsWith(k.magic))
      return QString::fromLatin1(k.kind);
  return {};
}

QString ParseRefusal(BmpHeader::Problem problem, const QByteArray &head) {
  switch (problem) {
  case BmpHeader::Problem::NotBmp: {
    const QString kind = KindOfFile(head);
    return kind.isEmpty() ? QStringLiteral("not a BMP file")
                          : QStringLiteral("not a BMP file but %1").arg(kind);
  }
  case BmpHeader::Problem::Unsupported:
    return QStringLiteral("a kind of BMP file that cannot be read (bits per pixel, compression "
                          "or colour masks)");
  case BmpHeader::Problem::CutShort:
    return QStringLiteral("cut short before its last pixel");
  case BmpHeader::Problem::None:
  case BmpHeader::Problem::Contradictory:
    break;
  }
  return QStringLiteral("a BMP file whose headers contradict each other");
}

} // namespace

LogoPicture LogoPicture::Read(QIODevice &device, qint64 room, LogoRecordCache *cache) {
  using F = LogoPicture::Fault;
  const QString cutShort = ParseRefusal(BmpHeader::Problem::CutShort, {});
  if (!device.isOpen() || device.isSequential() || !device.seek(0))
    return Refused(F::Invalid, QStringLiteral("not a file that can be read from any place"));
  const qint64 fileSize = device.size();
  const QByteArray head = device.read(std::min(fileSize, BmpHeader::kHeadBytes));
  BmpHeader::Problem problem = BmpHeader::Problem::None;
  const std::optional<BmpHeader> header = BmpHeader::Parse(head, fileSize, &problem);
  if (!header)
    return Refused(F::Invalid, ParseRefusal(problem, head));
  if (header->width == 0 || header->height == 0)
    return Refused(F::Invalid, QStringLiteral("of zero size: %1 pixels wide, %2 high")
                                   .arg(header->width)
                                   .arg(header->height));
  if (header->width > kMaxWidth)
    return Refused(
        F::Invalid,
        QStringLiteral("wider than %1 pixels: %2 pixels wide").arg(kMaxWidth).arg(header->width));
  // Checked before anything is decoded; it also bounds the height, and so
  // everything below, to what the logo memory can hold.
  const qint64 recordBytes = LogoRecordSize(header->width, header->height);
  if (recordBytes > room) {
    LogoPicture refused =
        Refused(F::TooLarge, QStringLiteral("its %1 bytes of logo data do not fit the %2 bytes "
                                            "of logo memory left")
                                 .arg(recordBytes)
                                 .arg(std::max<qint64>(room, 0)));
    refused.recordBytes = recordBytes;
    return refused;
  }

  if (!device.seek(header->pixelOffset))
    return Refused(F::Invalid, cutShort);
  const qint64 wanted = header->pixelBytesToRead();
  const QByteArray pixels = device.read(wanted);
  if (pixels.size() != wanted)
    return Refused(F::Invalid, cutShort);

  LogoPicture picture;
  picture.recordBytes = recordBytes;
  picture.width = header->width;
  picture.height = header->height;
  // Everything the conversion read, the file's size included.
  QByteArray content;
  if (cache != nullptr) {
    content.reserve(sizeof fileSize + head.size() + pixels.size());
    content.append(reinterpret_cast<const char *>(&fileSize), sizeof fileSize);
    content.append(head).append(pixels);
    if (const QByteArray *record = cache->Find(content)) {
      picture.fault = F::None;
      picture.record = *record;
      return picture;
    }
  }

  QByteArray record = NewRecord(header->width, header->height);
  if (header->compressed()) {
    const std::optional<std::vector<std::int16_t>> indices = RleDecoder::Decode(*header, pixels);
    if (!indices)
      return Refused(F::Invalid, cutShort);
    RleToRaster(*indices, *header, record.data() + 4);
  } else {
    // The last row's padding may be missing from the file.
    QByteArray rows = pixels;
    rows.resize(header->stride() * header->height, '\0');
    DecodeRows(*header, rows, record.data() + 4);
  }
  if (cache != nullptr)
    cache->Insert(content, record);
  picture.fault = F::None;
  picture.record = std::move(record);
  return picture;
}

LogoPicture LogoPicture::Load(const QString &path, qint64 room, LogoRecordCache *cache) {
  const QFileInfo info(path);
  if (!info.exists())
    return Refused(Fault::Missing, QStringLiteral("no such file"));
  if (!info.isFile())
    return Refused(Fault::Invalid, QStringLiteral("not a regular file"));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return Refused(Fault::Missing, QStringLiteral("cannot be read: %1").arg(file.errorString()));
  return Read(file, room, cache);
}

LogoPicture LogoPicture::Preview(const QString &path) { return Load(path, kRoomOfEmptySet); }

bool LogoPicture::isDot(qint64 x, qint64 y) const {
  if (fault != Fault::None || x < 0 || y < 0 || x >= width || y >= height)
    return false;
  const qint64 bytesPerColumn = (height + 7) / 8;
  return (std::uint8_t(record[4 + x * bytesPerColumn + y / 8]) & (0x80 >> (y % 8))) != 0;
}

} // namespace pellicar
