#include "platform/path_kind.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace pellicar {

PathInfo ClassifyPath(const QString &path) {
  PathInfo info;
  struct stat status {};
  if (::stat(QFile::encodeName(path).constData(), &status) != 0)
    return info;
  if (S_ISDIR(status.st_mode)) {
    info.kind = PathKind::Folder;
  } else if (S_ISREG(status.st_mode)) {
    info.kind = PathKind::RegularFile;
  } else if (S_ISFIFO(status.st_mode)) {
    info.kind = PathKind::Fifo;
  } else if (S_ISSOCK(status.st_mode)) {
    info.kind = PathKind::Socket;
  } else if (S_ISBLK(status.st_mode)) {
    info.kind = PathKind::BlockDevice;
  } else if (S_ISCHR(status.st_mode)) {
    // The kernel files every device it made under /sys/dev/char by number,
    // with a link to its class. Pseudo terminals are not there.
    const QString entry = QStringLiteral("/sys/dev/char/%1:%2/subsystem")
                              .arg(major(status.st_rdev))
                              .arg(minor(status.st_rdev));
    info.deviceClass = QFileInfo(QFileInfo(entry).canonicalFilePath()).fileName();
    const bool pseudoTerminal = major(status.st_rdev) >= 136 && major(status.st_rdev) <= 143;
    info.kind = info.deviceClass == QLatin1String("tty") || pseudoTerminal
                    ? PathKind::Terminal
                    : PathKind::CharacterDevice;
  }
  return info;
}

QString DescribePath(const PathInfo &info) {
  switch (info.kind) {
  case PathKind::Missing:
    return QStringLiteral("nothing (no such file)");
  case PathKind::Folder:
    return QStringLiteral("a folder");
  case PathKind::RegularFile:
    return QStringLiteral("a regular file");
  case PathKind::Fifo:
    return QStringLiteral("a FIFO (named pipe)");
  case PathKind::Socket:
    return QStringLiteral("a socket");
  case PathKind::BlockDevice:
    return QStringLiteral("a block device (a disk)");
  case PathKind::Terminal:
    return QStringLiteral("a terminal");
  case PathKind::CharacterDevice:
    break;
  }
  return info.deviceClass.isEmpty()
             ? QStringLiteral("a character device that is no terminal")
             : QStringLiteral("a character device of the class \"%1\"").arg(info.deviceClass);
}

} // namespace pellicar
