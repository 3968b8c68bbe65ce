#include "app/transfer_progress.h"

#include <QLocale>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>

namespace pellicar {

namespace {

// Wide enough for "update: 67,108,870 of 67,108,870 bytes" in the window's
// face, while the status panel keeps room for the clock.
constexpr int kBarWidth = 270;
// The bar's steps: fine enough to move on every few kilobytes of a logo.
constexpr int kBarSteps = 10000;

} // namespace

StreamAction StreamAction::LogoDownload() {
  return {QStringLiteral("LOGO TO NVRAM"), QStringLiteral("Download LOGO"),
          QStringLiteral("logo download"), true};
}

StreamAction StreamAction::FirmwareUpload() {
  return {QStringLiteral("update"), QStringLiteral("Update"), QStringLiteral("firmware upload"),
          false};
}

TTransferProgress::TTransferProgress(QStatusBar *statusBar) : bar_(new QProgressBar(statusBar)) {
  bar_->setObjectName(QStringLiteral("statAllTransfer"));
  bar_->setFixedWidth(kBarWidth);
  bar_->setTextVisible(true);
  bar_->setAlignment(Qt::AlignCenter);
  statusBar->addPermanentWidget(bar_);
  bar_->hide();
}

void TTransferProgress::Begin(const StreamAction &action, qint64 total) {
  running_ = true;
  action_ = action;
  acknowledged_ = 0;
  stalledMs_ = 0;
  total_ = total;
  UpdateBar();
  bar_->show();
}

void TTransferProgress::Advance(qint64 acknowledged, qint64 total) {
  if (!running_)
    return;
  acknowledged_ = acknowledged;
  total_ = total;
  UpdateBar();
}

void TTransferProgress::End() {
  running_ = false;
  bar_->hide();
}

void TTransferProgress::UpdateBar() {
  if (total_ > 0) {
    bar_->setRange(0, kBarSteps);
    bar_->setValue(int(std::min(acknowledged_, total_) * kBarSteps / total_));
  } else {
    bar_->setRange(0, 0); // length unknown: the bar only shows that it runs
  }
  bar_->setFormat(action_.documentName + QStringLiteral(": ") + CountOf(acknowledged_, total_) +
                  QStringLiteral(" bytes"));
}

QString TTransferProgress::RunningText() const {
  return QStringLiteral("The %1 is still running (the printer has acknowledged %2 bytes).")
      .arg(action_.noun, CountOf(acknowledged_, total_));
}

QString TTransferProgress::StoppedText(const StreamAction &action, qint64 acknowledged,
                                       qint64 total, bool exact, int stalledMs) {
  const QString stall = stalledMs > 0 ? QStringLiteral(": the printer took no data for %1 s")
                                            .arg(QString::number(double(stalledMs / 100) / 10.0))
                                      : QString();
  return QStringLiteral("The %1 stopped after %2%3 bytes%4.")
      .arg(action.noun, exact ? QString() : QStringLiteral("at least "),
           CountOf(acknowledged, total), stall);
}

QString TTransferProgress::Count(qint64 bytes) {
  return QLocale(QLocale::English, QLocale::UnitedStates).toString(bytes);
}

QString TTransferProgress::CountOf(qint64 part, qint64 total) {
  return total >= 0 ? Count(part) + QStringLiteral(" of ") + Count(total) : Count(part);
}

} // namespace pellicar
