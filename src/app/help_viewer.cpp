#include "app/help_viewer.h"

#include <QDialog>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace pellicar {

namespace {

// The manual's window: wide enough for the README's example lines.
constexpr int kManualWidth = 720;
constexpr int kManualHeight = 600;

} // namespace

QString ManualText() {
  QFile file(QStringLiteral(":/manual/README.md"));
  if (!file.open(QIODevice::ReadOnly))
    return QStringLiteral("The manual is missing from this build.");
  QString text = QString::fromUtf8(file.readAll());
  const qsizetype developers = text.indexOf(QStringLiteral("\n## For developers"));
  if (developers >= 0)
    text.truncate(developers);
  // Pictures live beside the README in the source tree, not in the program.
  text.remove(QRegularExpression(QStringLiteral("^!\\[[^\\]]*\\]\\([^)]*\\)\\s*$"),
                                 QRegularExpression::MultilineOption));
  return text;
}

void ShowManual(QWidget *owner) {
  static QPointer<QDialog> shown;
  if (shown) {
    shown->raise();
    shown->activateWindow();
    return;
  }
  auto *dialog = new QDialog(owner);
  dialog->setObjectName(QStringLiteral("dlgManual"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("Pellicar Help"));
  dialog->resize(kManualWidth, kManualHeight);
  auto *browser = new QTextBrowser(dialog);
  browser->setObjectName(QStringLiteral("manualText"));
  browser->setOpenExternalLinks(true);
  browser->setMarkdown(ManualText());
  auto *layout = new QVBoxLayout(dialog);
  layout->addWidget(browser);
  shown = dialog;
  dialog->show();
}

} // namespace pellicar
