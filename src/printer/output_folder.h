#pragma once

#include <QByteArray>
#include <QString>

namespace pellicar {

// A folder the printer writes its files into (its pictures, its state
// file) without ever following a link or opening a file that is already
// there: each file is written under a new name created exclusively in the
// same folder and then renamed over the old one, which replaces a link
// planted under that name instead of writing through it. The folder itself
// is held open from Open() on, so that moving another folder into its
// place changes nothing. Main thread.
class OutputFolder {
public:
  OutputFolder() = default;
  ~OutputFolder();
  OutputFolder(const OutputFolder &) = delete;
  OutputFolder &operator=(const OutputFolder &) = delete;

  // Opens `path`, making it (and its parents) when `make` is set. False,
  // with the reason in `error`.
  bool Open(const QString &path, bool make, QString *error);
  bool IsOpen() const { return fd_ >= 0; }
  const QString &Path() const { return path_; }

  // Puts `bytes` under `name` (a plain name, no folder). False, with the
  // reason in `error`; nothing is left behind then.
  bool Write(const QString &name, const QByteArray &bytes, QString *error);
  // Removes `name` (a link itself, never what it points to); a name that
  // is not there is no failure.
  bool Remove(const QString &name, QString *error);

private:
  int fd_ = -1;
  QString path_;
};

// Whether `path` is a symbolic link (lstat; false when there is nothing).
bool IsSymbolicLink(const QString &path);

} // namespace pellicar
