#include "logo/logo_picture.h"

#include "logo/bmp_header.h"
#include "logo/logo_raster.h"
#include "logo/rle_decoder.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <array>
#include <bit>

namespace pellicar {

namespace {

// The largest record an empty logo set can take.
constexpr qint64 kRoomOfEmptySet = kLogoCapacity - kLogoCommandBytes;

// The decoder widens an n-bit channel by multiplying with 2^(8-n), so its
// maximum reads 256 - 2^(8-n) rather than 255 (a decoder that replicates
// the bits gives 255, which passes too).
int FullChannel(std::uint32_t mask) {
  const int bits = std::popcount(mask);
  return 256 - (1 << (8 - bits));
}

QImage NewDots(int width, int height) {
  QImage dots(width, height, QImage::Format_Mono);
  dots.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  dots.fill(0);
  return dots;
}

void SetDot(QImage &dots, int x, int y) { dots.scanLine(y)[x / 8] |= uchar(0x80 >> (x % 8)); }

// Which palette indices print: with one bit per pixel the colour whose
// blue is below 128, otherwise every colour but white. An index without a
// colour is black.
std::array<bool, 256> DotIndices(const QList<QRgb> &table, int bitsPerPixel) {
  std::array<bool, 256> isDot;
  isDot.fill(true);
  for (qsizetype i = 0; i < std::min<qsizetype>(table.size(), 256); ++i) {
    const QRgb c = table[i];
    isDot[i] = bitsPerPixel == 1 ? qBlue(c) < 128 : (c & 0xFFFFFF) != 0xFFFFFF;
  }
  return isDot;
}

// The decoder's own colour table, not the file's: it may reorder a
// two-colour table (and invert the bits with it).
QImage IndexedToDots(const QImage &decoded, const BmpHeader &header) {
  const std::array<bool, 256> isDot = DotIndices(decoded.colorTable(), header.bitsPerPixel);
  const int w = decoded.width();
  const int h = decoded.height();
  QImage dots = NewDots(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (isDot[decoded.pixelIndex(x, y) & 0xFF])
        SetDot(dots, x, y);
  return dots;
}

QImage DirectToDots(const QImage &decoded, const BmpHeader &header) {
  const QImage rgb = decoded.convertToFormat(QImage::Format_RGB32);
  const int fullRed = FullChannel(header.redMask);
  const int fullGreen = FullChannel(header.greenMask);
  const int fullBlue = FullChannel(header.blueMask);
  const int w = rgb.width();
  const int h = rgb.height();
  QImage dots = NewDots(w, h);
  for (int y = 0; y < h; ++y) {
    const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const QRgb c = line[x];
      const bool white = qRed(c) >= fullRed && qGreen(c) >= fullGreen && qBlue(c) >= fullBlue;
      if (!white)
        SetDot(dots, x, y);
    }
  }
  return dots;
}

// Pixels the stream skipped print nothing.
QImage RleToDots(const std::vector<std::int16_t> &indices, const BmpHeader &header) {
  const std::array<bool, 256> isDot = DotIndices(header.palette, header.bitsPerPixel);
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

LogoPicture LogoPicture::Read(QIODevice &device, qint64 room) {
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
  if (header->compressed()) {
    const std::optional<std::vector<std::int16_t>> indices = RleDecoder::Decode(*header, pixels);
    if (!indices)
      return Refused(F::Invalid, cutShort);
    picture.fault = F::None;
    picture.dots = RleToDots(*indices, *header);
    return picture;
  }

  QByteArray file = header->Normalised(pixels);
  QBuffer buffer(&file);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "bmp");
  reader.setAutoTransform(false);
  const QImage decoded = reader.read();
  if (decoded.isNull() || decoded.width() != header->width || decoded.height() != header->height ||
      (header->indexed() && decoded.colorCount() == 0))
    return Refused(F::Invalid, QStringLiteral("a BMP file whose pixels cannot be decoded"));

  picture.fault = F::None;
  picture.dots =
      header->indexed() ? IndexedToDots(decoded, *header) : DirectToDots(decoded, *header);
  return picture;
}

LogoPicture LogoPicture::Load(const QString &path, qint64 room) {
  const QFileInfo info(path);
  if (!info.exists())
    return Refused(Fault::Missing, QStringLiteral("no such file"));
  if (!info.isFile())
    return Refused(Fault::Invalid, QStringLiteral("not a regular file"));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return Refused(Fault::Missing, QStringLiteral("cannot be read: %1").arg(file.errorString()));
  return Read(file, room);
}

QImage RenderLogoPreview(const QString &path) {
  const LogoPicture picture = LogoPicture::Load(path, kRoomOfEmptySet);
  return picture.fault == LogoPicture::Fault::None ? picture.dots : QImage();
}

} // namespace pellicar
