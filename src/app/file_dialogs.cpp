#include "app/file_dialogs.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>

namespace pellicar {

namespace {

constexpr int kPreviewSize = 180;

// The toolkit's own dialog, because the platform's native one has no place
// for a preview.
void addPreview(QFileDialog &dialog, const std::function<QImage(const QString &)> &render) {
  auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
  if (grid == nullptr)
    return;
  auto *preview = new QLabel(&dialog);
  preview->setObjectName(QStringLiteral("dlgPreview"));
  preview->setFixedSize(kPreviewSize, kPreviewSize);
  preview->setAlignment(Qt::AlignCenter);
  preview->setFrameShape(QFrame::StyledPanel);
  grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
  QObject::connect(&dialog, &QFileDialog::currentChanged, preview,
                   [preview, render](const QString &path) {
                     const QImage image = render(path);
                     if (image.isNull()) {
                       preview->clear();
                       return;
                     }
                     QPixmap pixmap = QPixmap::fromImage(image);
                     if (pixmap.width() > kPreviewSize || pixmap.height() > kPreviewSize)
                       pixmap = pixmap.scaled(kPreviewSize, kPreviewSize, Qt::KeepAspectRatio,
                                              Qt::SmoothTransformation);
                     preview->setPixmap(pixmap);
                   });
}

} // namespace

QString QtFileDialogs::OpenFile(QWidget *owner, const FileDialogRequest &request) {
  QFileDialog dialog(owner, request.title);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (!request.filter.isEmpty())
    dialog.setNameFilter(request.filter);
  if (request.preview) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    addPreview(dialog, request.preview);
  }
  if (dialog.exec() != QDialog::Accepted)
    return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

QString QtFileDialogs::SaveFile(QWidget *owner, const FileDialogRequest &request) {
  QFileDialog dialog(owner, request.title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!request.filter.isEmpty())
    dialog.setNameFilter(request.filter);
  if (dialog.exec() != QDialog::Accepted)
    return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

} // namespace pellicar
