// Replays files (or every file of folders) through the fuzz target, without
// libFuzzer, so that it can run under valgrind: valgrind sees reads of
// memory that was never written, which AddressSanitizer does not.
//   logo_picture_replay FILE|FOLDER...

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

bool Replay(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "%s: cannot be read\n", qPrintable(path));
    return false;
  }
  const QByteArray bytes = file.readAll();
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                         std::size_t(bytes.size()));
  return true;
}

} // namespace

int main(int argc, char **argv) {
  int replayed = 0;
  bool ok = argc > 1;
  for (int i = 1; i < argc; ++i) {
    const QString path = QFile::decodeName(argv[i]);
    if (!QFileInfo(path).isDir()) {
      ok = Replay(path) && ok;
      ++replayed;
      continue;
    }
    QDirIterator files(path, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
      ok = Replay(files.next()) && ok;
      ++replayed;
    }
  }
  std::printf("%d inputs replayed\n", replayed);
  return ok && replayed > 0 ? 0 : 1;
}
