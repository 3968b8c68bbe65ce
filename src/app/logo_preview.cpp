#include "app/logo_preview.h"

#include "logo/logo_picture.h"

namespace pellicar {

QImage RenderLogoPreview(const QString &path) {
  const LogoPicture picture = LogoPicture::Preview(path);
  if (picture.fault != LogoPicture::Fault::None)
    return {};
  QImage image(int(picture.width), int(picture.height), QImage::Format_Mono);
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  image.fill(0);
  for (int y = 0; y < image.height(); ++y) {
    uchar *line = image.scanLine(y);
    for (int x = 0; x < image.width(); ++x)
      if (picture.isDot(x, y))
        line[x / 8] |= uchar(0x80 >> (x % 8));
  }
  return image;
}

} // namespace pellicar
