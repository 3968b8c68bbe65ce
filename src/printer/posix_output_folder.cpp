#include "printer/output_folder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellicar {

namespace {

// Names tried for the new file before giving up: a clash means someone is
// guessing them, and 64 random bits make even one clash unlikely.
constexpr int kNameAttempts = 16;

QString SystemError() { return QString::fromLocal8Bit(strerror(errno)); }

} // namespace

bool IsSymbolicLink(const QString &path) {
  struct stat info {};
  return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

OutputFolder::~OutputFolder() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool OutputFolder::Open(const QString &path, bool make, QString *error) {
  if (make && !QDir().mkpath(path)) {
    *error = QStringLiteral("cannot make the folder %1").arg(path);
    return false;
  }
  fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) {
    *error = QStringLiteral("cannot open the folder %1: %2").arg(path, SystemError());
    return false;
  }
  path_ = path;
  return true;
}

bool OutputFolder::Write(const QString &name, const QByteArray &bytes, QString *error) {
  const QByteArray target = QFile::encodeName(name);
  QByteArray temporary;
  int fd = -1;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    temporary =
        '.' + target + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    fd = ::openat(fd_, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0644);
    if (fd < 0 && errno != EEXIST)
      break;
  }
  if (fd < 0) {
    *error = QStringLiteral("cannot write %1: %2").arg(QDir(path_).filePath(name), SystemError());
    return false;
  }
  qsizetype at = 0;
  while (at < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + at, std::size_t(bytes.size() - at));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    at += n;
  }
  const int writeErrno = at < bytes.size() ? (errno ? errno : EIO) : 0;
  const bool closed = ::close(fd) == 0;
  if (writeErrno != 0 || !closed ||
      ::renameat(fd_, temporary.constData(), fd_, target.constData()) != 0) {
    if (writeErrno != 0)
      errno = writeErrno;
    *error = QStringLiteral("cannot write %1: %2").arg(QDir(path_).filePath(name), SystemError());
    ::unlinkat(fd_, temporary.constData(), 0);
    return false;
  }
  return true;
}

bool OutputFolder::Remove(const QString &name, QString *error) {
  if (::unlinkat(fd_, QFile::encodeName(name).constData(), 0) == 0 || errno == ENOENT)
    return true;
  *error = QStringLiteral("cannot remove %1: %2").arg(QDir(path_).filePath(name), SystemError());
  return false;
}

} // namespace pellicar
