#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace pellicar {

// Pictures of what a printer prints: black dots on white, one pixel per
// dot (8 dots per millimetre).

// A stored logo as it prints: 8·x dots wide and 8·y dots high, from its
// column raster (8·x columns of y bytes, bit 7 of byte j the top row of
// rows 8j..8j+7). Bytes missing from a short raster print nothing.
QImage LogoPicture(int x, int y, const QByteArray &raster);

// One character cell of the printer's font A.
inline constexpr int kCharWidthDots = 12;
inline constexpr int kLineHeightDots = 24;

// The paper width for `charsPerLine` characters of font A.
inline int PaperWidthDots(int charsPerLine) { return charsPerLine * kCharWidthDots; }

// A page: `lines` of text (each at most `charsPerLine` characters), then
// the `logos` one below the other, each with `captions[i]` above it.
// Needs a QGuiApplication (it draws text).
QImage PagePicture(const QStringList &lines, int charsPerLine, const QList<QImage> &logos = {},
                   const QStringList &captions = {});

// `text` cut into lines of at most `width` characters, at blanks where
// possible.
QStringList WrapText(const QString &text, int width);

} // namespace pellicar
