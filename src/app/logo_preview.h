#pragma once

#include <QImage>
#include <QString>

namespace pellicar {

// The preview of the picture dialog: the file as the printer will print
// it, black dots on white, or a null image when the file would be
// refused even by an empty logo set. Main thread (it reads the file).
QImage RenderLogoPreview(const QString &path);

} // namespace pellicar
