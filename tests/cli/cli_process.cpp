#include "cli/cli_process.h"

#include "support/wait.h"

#include <QProcess>

namespace pellicar::test {

QString CliPath() { return QStringLiteral(PELLICAR_CLI_PATH); }

void PrintTo(const CliResult &result, std::ostream *out) {
  *out << "exit " << result.exitCode << (result.finished ? "" : " (not finished)") << ", stdout ["
       << result.out.left(400).toStdString() << "], stderr [" << result.err.left(400).toStdString()
       << ']';
}

namespace {

CliResult Run(const QString &program, const QStringList &arguments, const CliOptions &options) {
  QProcess process;
  process.setProgram(program);
  process.setArguments(arguments);
  process.setProcessEnvironment(options.environment);
  process.setStandardInputFile(QProcess::nullDevice());
  if (options.childSetup)
    process.setChildProcessModifier(options.childSetup);
  CliResult result;
  QObject::connect(&process, &QProcess::readyReadStandardOutput,
                   [&] { result.out += process.readAllStandardOutput(); });
  QObject::connect(&process, &QProcess::readyReadStandardError,
                   [&] { result.err += process.readAllStandardError(); });
  process.start();
  result.finished =
      WaitUntil([&] { return process.state() == QProcess::NotRunning; }, options.deadlineMs);
  if (!result.finished) {
    process.kill();
    process.waitForFinished(5000);
  }
  result.out += process.readAllStandardOutput();
  result.err += process.readAllStandardError();
  if (result.finished && process.exitStatus() == QProcess::NormalExit)
    result.exitCode = process.exitCode();
  return result;
}

} // namespace

CliResult RunCliProcess(const QStringList &arguments, const CliOptions &options) {
  return Run(CliPath(), arguments, options);
}

CliResult RunCliShell(const QString &script, const CliOptions &options) {
  CliOptions withPath = options;
  withPath.environment.insert(QStringLiteral("CLI"), CliPath());
  return Run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, withPath);
}

QByteArray DryRunBytes(const QStringList &command) {
  const CliResult result = RunCliProcess(command);
  if (result.exitCode != 0)
    return {};
  QByteArray bytes;
  for (const QByteArray &line : result.out.split('\n')) {
    const qsizetype tab = line.indexOf('\t');
    if (tab >= 0)
      bytes += QByteArray::fromHex(line.mid(tab + 1));
  }
  return bytes;
}

QStringList Words(std::initializer_list<const char *> words) {
  QStringList list;
  for (const char *word : words)
    list << QString::fromUtf8(word);
  return list;
}

} // namespace pellicar::test
