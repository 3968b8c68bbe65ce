#include "emulation/paper_picture.h"

#include <QFont>
#include <QPainter>

#include <algorithm>

namespace pellicar {

namespace {

constexpr int kMarginDots = 16;
// DejaVu Sans Mono advances 0.6 em: 19 pixels give cells of about 11.4
// dots, so that a full line fits the paper's 12-dot cells.
constexpr int kFontPixels = 19;

} // namespace

QImage LogoPicture(int x, int y, const QByteArray &raster) {
  const int width = 8 * x;
  const int height = 8 * y;
  if (width <= 0 || height <= 0)
    return {};
  QImage image(width, height, QImage::Format_Grayscale8);
  image.fill(Qt::white);
  for (int column = 0; column < width; ++column) {
    for (int j = 0; j < y; ++j) {
      const qsizetype at = qsizetype(column) * y + j;
      if (at >= raster.size())
        return image;
      const auto byte = std::uint8_t(raster[at]);
      for (int bit = 0; bit < 8; ++bit)
        if (byte & (0x80 >> bit))
          image.scanLine(8 * j + bit)[column] = 0;
    }
  }
  return image;
}

QImage PagePicture(const QStringList &lines, int charsPerLine, const QList<QImage> &logos,
                   const QStringList &captions) {
  const int width = PaperWidthDots(charsPerLine);
  int height = 2 * kMarginDots + int(lines.size()) * kLineHeightDots;
  for (const QImage &logo : logos)
    height += kLineHeightDots + logo.height() + kMarginDots;
  QImage page(width, height, QImage::Format_Grayscale8);
  page.fill(Qt::white);

  QPainter painter(&page);
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(kFontPixels);
  painter.setFont(font);
  painter.setPen(Qt::black);
  int top = kMarginDots;
  const auto drawLine = [&](const QString &text) {
    painter.drawText(QRect(0, top, width, kLineHeightDots), Qt::AlignLeft | Qt::AlignVCenter, text);
    top += kLineHeightDots;
  };
  for (const QString &line : lines)
    drawLine(line);
  for (qsizetype i = 0; i < logos.size(); ++i) {
    drawLine(captions.value(i));
    painter.drawImage(0, top, logos[i]);
    top += logos[i].height() + kMarginDots;
  }
  painter.end();
  return page;
}

QStringList WrapText(const QString &text, int width) {
  QStringList lines;
  QString rest = text;
  width = std::max(width, 1);
  while (rest.size() > width) {
    qsizetype cut = rest.lastIndexOf(QLatin1Char(' '), width);
    if (cut <= 0)
      cut = width;
    lines << rest.left(cut);
    rest = rest.mid(cut).trimmed();
  }
  lines << rest;
  return lines;
}

} // namespace pellicar
