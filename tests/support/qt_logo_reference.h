#pragma once

#include "logo/logo_picture.h"

#include <QByteArray>

namespace pellicar::test {

// The logo conversion as it was before the core read bitmaps itself: the
// checked headers, uncompressed pixels handed to Qt's BMP reader in a
// normalised file, RLE through RleDecoder. Kept as the reference the
// core's own decoder must match bit for bit. Links Qt Gui.
struct ReferenceRecord {
  LogoPicture::Fault fault = LogoPicture::Fault::Missing;
  QByteArray record; // when fault is None
};

ReferenceRecord QtReferenceRecord(const QByteArray &file, qint64 room);

} // namespace pellicar::test
