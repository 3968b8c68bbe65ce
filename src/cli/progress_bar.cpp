#include "cli/progress_bar.h"

#include "cli/terminal.h"

namespace pellicar {

namespace {

constexpr int kBarWidth = 30;

int Permille(qint64 done, qint64 total) {
  if (total <= 0)
    return 1000;
  return int(std::clamp<qint64>(done, 0, total) * 1000 / total);
}

} // namespace

TProgressBar::TProgressBar(QString label, qint64 total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled) {}

TProgressBar::~TProgressBar() { Finish(); }

QString TProgressBar::Render(const QString &label, qint64 done, qint64 total) {
  const int permille = Permille(done, total);
  const int filled = permille * kBarWidth / 1000;
  return QStringLiteral("%1  [%2%3] %4%  %5/%6 bytes")
      .arg(label, QString(filled, QLatin1Char('#')), QString(kBarWidth - filled, QLatin1Char(' ')))
      .arg(permille / 10, 3)
      .arg(std::clamp<qint64>(done, 0, total))
      .arg(total);
}

void TProgressBar::Update(qint64 done) {
  if (!enabled_)
    return;
  const int permille = Permille(done, total_);
  if (permille == lastPermille_)
    return;
  lastPermille_ = permille;
  drawn_ = true;
  WriteStandard(StandardStream::Error, (QLatin1Char('\r') + Render(label_, done, total_)).toUtf8());
}

void TProgressBar::Finish() {
  if (!drawn_)
    return;
  drawn_ = false;
  WriteStandard(StandardStream::Error, QByteArrayLiteral("\n"));
}

} // namespace pellicar
