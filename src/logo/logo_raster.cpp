#include "logo/logo_raster.h"

namespace pellicar {

qint64 LogoRecordSize(qint64 width, qint64 height) {
  return 4 + 8 * ((width + 7) / 8) * ((height + 7) / 8);
}

} // namespace pellicar
