#include "logo/logo_picture.h"

#include "logo/bmp_header.h"
#include "logo/logo_raster.h"

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

// The decoder's own colour table, not the file's: it may reorder a
// two-colour table (and invert the bits with it).
QImage IndexedToDots(const QImage &decoded, const BmpHeader &header) {
  std::array<bool, 256> isDot;
  isDot.fill(true); // an index without a colour is black
  const QList<QRgb> table = decoded.colorTable();
  for (qsizetype i = 0; i < std::min<qsizetype>(table.size(), 256); ++i) {
    const QRgb c = table[i];
    isDot[i] = header.bitsPerPixel == 1 ? qBlue(c) < 128 : (c & 0xFFFFFF) != 0xFFFFFF;
  }
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

LogoPicture Refused(LogoPicture::Fault fault) {
  LogoPicture p;
  p.fault = fault;
  return p;
}

} // namespace

LogoPicture LogoPicture::Read(QIODevice &device, qint64 room) {
  using F = LogoPicture::Fault;
  if (!device.isOpen() || device.isSequential() || !device.seek(0))
    return Refused(F::Invalid);
  const qint64 fileSize = device.size();
  const QByteArray head = device.read(std::min(fileSize, BmpHeader::kHeadBytes));
  const std::optional<BmpHeader> header = BmpHeader::Parse(head, fileSize);
  if (!header)
    return Refused(F::Invalid);
  if (header->width == 0 || header->height == 0 || header->width > kMaxWidth)
    return Refused(F::Invalid);
  // Checked before anything is decoded; it also bounds the height, and so
  // everything below, to what the logo memory can hold.
  if (LogoRecordSize(header->width, header->height) > room)
    return Refused(F::TooLarge);

  if (!device.seek(header->pixelOffset))
    return Refused(F::Invalid);
  const qint64 wanted = header->pixelBytesToRead();
  const QByteArray pixels = device.read(wanted);
  if (pixels.size() != wanted)
    return Refused(F::Invalid);
  if (header->compressed() && !header->RleStreamComplete(pixels))
    return Refused(F::Invalid);

  QByteArray file = header->Normalised(pixels);
  QBuffer buffer(&file);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "bmp");
  reader.setAutoTransform(false);
  const QImage decoded = reader.read();
  if (decoded.isNull() || decoded.width() != header->width || decoded.height() != header->height)
    return Refused(F::Invalid);
  if (header->indexed() && decoded.colorCount() == 0)
    return Refused(F::Invalid);

  LogoPicture picture;
  picture.fault = F::None;
  picture.dots =
      header->indexed() ? IndexedToDots(decoded, *header) : DirectToDots(decoded, *header);
  return picture;
}

LogoPicture LogoPicture::Load(const QString &path, qint64 room) {
  const QFileInfo info(path);
  if (!info.exists())
    return Refused(Fault::Missing);
  if (!info.isFile())
    return Refused(Fault::Invalid);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return Refused(Fault::Missing);
  return Read(file, room);
}

QImage RenderLogoPreview(const QString &path) {
  const LogoPicture picture = LogoPicture::Load(path, kRoomOfEmptySet);
  return picture.fault == LogoPicture::Fault::None ? picture.dots : QImage();
}

} // namespace pellicar
