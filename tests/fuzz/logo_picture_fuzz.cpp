// libFuzzer target: any bytes through the bitmap loader and the raster.
// A file is either refused or gives dots of its own size whose record fits
// the room it was given.

#include "logo/logo_picture.h"
#include "logo/logo_raster.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  using namespace pellicar;
  QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  // The room of a set that holds a few records already.
  const qint64 room = kLogoCapacity - kLogoCommandBytes - 4096;
  const LogoPicture picture = LogoPicture::Read(buffer, room);
  if (picture.fault != LogoPicture::Fault::None)
    return 0;
  if (picture.width < 1 || picture.width > LogoPicture::kMaxWidth || picture.height < 1)
    std::abort();
  const QByteArray &record = picture.record;
  if (record.size() != LogoRecordSize(picture.width, picture.height) || record.size() > room)
    std::abort();
  // Every bit is defined: valgrind and MemorySanitizer see a branch on a
  // byte the decoder never wrote.
  int ones = 0;
  for (char byte : record)
    ones += byte != 0;
  if (ones > record.size())
    std::abort();
  return 0;
}
