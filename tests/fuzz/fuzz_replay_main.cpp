// Runs a libFuzzer target's entry point over files, without libFuzzer: for
// compilers without it, for valgrind, and for ctest over the seed corpus.
//   REPLAY FILE|FOLDER...

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    QStringList files{QString::fromLocal8Bit(argv[i])};
    if (QFileInfo(files.front()).isDir()) {
      const QDir folder(files.takeFirst());
      for (const QString &name : folder.entryList(QDir::Files, QDir::Name))
        files << folder.filePath(name);
    }
    for (const QString &path : files) {
      QFile file(path);
      if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
      }
      const QByteArray bytes = file.readAll();
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                             std::size_t(bytes.size()));
      ++runs;
    }
  }
  std::printf("%d inputs run\n", runs);
  return runs > 0 ? 0 : 1;
}
