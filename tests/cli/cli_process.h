#pragma once

// Runs the built pellicar-cli as a child process, with the event loop of
// the test's thread spinning meanwhile, so that fake printers and pseudo
// terminals driven by that loop keep working while the tool runs.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <ostream>

namespace pellicar::test {

struct CliResult {
  int exitCode = -1; // -1: it crashed or did not finish in time
  bool finished = false;
  QByteArray out;
  QByteArray err;

  QString errText() const { return QString::fromUtf8(err); }
  QString outText() const { return QString::fromUtf8(out); }
};

// Lets GoogleTest show a result readably.
void PrintTo(const CliResult &result, std::ostream *out);

struct CliOptions {
  // Extra environment variables (the rest is inherited).
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  // Run in the child between fork and exec (e.g. to make standard error a
  // terminal).
  std::function<void()> childSetup;
  int deadlineMs = 30000;
};

// The path of the binary under test.
QString CliPath();

// Arguments written as C strings, read as UTF-8.
QStringList Words(std::initializer_list<const char *> words);

CliResult RunCliProcess(const QStringList &arguments, const CliOptions &options = {});

// Runs a shell command line in which "$CLI" is the binary; for arguments
// that a QStringList cannot carry (bytes that are not UTF-8).
CliResult RunCliShell(const QString &script, const CliOptions &options = {});

// The bytes a command sends, read from its dry run (the lines' hex, in
// order); empty when the dry run failed.
QByteArray DryRunBytes(const QStringList &command);

} // namespace pellicar::test
