#include "cli/cli_runner.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
  // The bytes as the system passed them, before anything reads them.
  QList<QByteArray> arguments;
  for (int i = 1; i < argc; ++i)
    arguments << QByteArray(argv[i]);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("pellicar-cli"));
  return pellicar::RunCli(arguments);
}
