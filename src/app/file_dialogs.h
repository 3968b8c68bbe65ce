#pragma once

#include <QImage>
#include <QString>

#include <functional>

class QWidget;

namespace pellicar {

struct FileDialogRequest {
  QString title;
  // Filters in the toolkit's form, "Firmware(.bin) (*.bin)"; empty for
  // every file.
  QString filter;
  // A picture dialog shows a preview of the file under the cursor: the
  // picture this function makes of it (a null image shows nothing). Empty
  // for a dialog without preview.
  std::function<QImage(const QString &path)> preview;
  // The name typed need not exist (the program checks it itself).
  bool mustExist = true;
};

// Every file dialog goes through this interface, so that tests can give
// the next file name. Main thread only. Returns the chosen file's full
// path, or an empty text when the user cancelled.
class FileDialogs {
public:
  virtual ~FileDialogs() = default;
  virtual QString OpenFile(QWidget *owner, const FileDialogRequest &request) = 0;
  // A file to write: it need not exist; the dialog asks before it names
  // one that does.
  virtual QString SaveFile(QWidget *owner, const FileDialogRequest &request) = 0;
};

// The real dialogs (QFileDialog).
class QtFileDialogs final : public FileDialogs {
public:
  QString OpenFile(QWidget *owner, const FileDialogRequest &request) override;
  QString SaveFile(QWidget *owner, const FileDialogRequest &request) override;
};

} // namespace pellicar
