#include "support/printer_process.h"

#include "support/wait.h"

#include <QFile>
#include <QJsonDocument>

#include <csignal>

namespace pellicar::test {

namespace {

// Starting takes milliseconds; this is for a loaded machine.
constexpr int kStartMs = 10000;
constexpr int kStopMs = 5000;

} // namespace

QString PrinterProcess::ProgramPath() { return QStringLiteral(PELLICAR_PRINTER_PATH); }

bool PrinterProcess::Start(const QStringList &extra) {
  if (!folder_.isValid()) {
    message_ = QStringLiteral("no temporary folder");
    return false;
  }
  process_.setProgram(ProgramPath());
  process_.setArguments(QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0"),
                                    QStringLiteral("--pty"), QStringLiteral("--state"),
                                    folder_.filePath(QStringLiteral("state.json")),
                                    QStringLiteral("--out"), OutDir()} +
                        extra);
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { collect(); });
  process_.start();
  running_ = true;
  const bool up = WaitUntil(
      [this] {
        collect();
        return (port_ != 0 && !serialPath_.isEmpty()) || process_.state() == QProcess::NotRunning;
      },
      kStartMs);
  if (!up || port_ == 0 || serialPath_.isEmpty()) {
    message_ = QStringLiteral("pellicar-printer did not start: %1").arg(lines_.join(u'|'));
    return false;
  }
  return true;
}

void PrinterProcess::collect() {
  partial_ += process_.readAllStandardOutput();
  qsizetype end = 0;
  while ((end = partial_.indexOf('\n')) >= 0) {
    const QString line = QString::fromUtf8(partial_.left(end));
    partial_.remove(0, end + 1);
    if (port_ == 0 && line.startsWith(QLatin1String("Listening on ")))
      port_ = quint16(line.section(QLatin1Char(':'), -1).toUInt());
    else if (serialPath_.isEmpty() && line.startsWith(QLatin1String("Serial port: ")))
      serialPath_ = line.mid(13);
    else if (!line.startsWith(QLatin1String("Connection ")))
      lines_ << line;
  }
}

QStringList PrinterProcess::Log() {
  collect();
  return lines_;
}

bool PrinterProcess::WaitForLog(qsizetype count, int timeoutMs) {
  return WaitUntil([&] { return Log().size() >= count; }, timeoutMs);
}

QJsonObject PrinterProcess::State() const {
  QFile file(folder_.filePath(QStringLiteral("state.json")));
  if (!file.open(QIODevice::ReadOnly))
    return {};
  return QJsonDocument::fromJson(file.readAll()).object();
}

int PrinterProcess::Stop() {
  if (!running_)
    return -1;
  running_ = false;
  if (process_.state() != QProcess::NotRunning) {
    ::kill(pid_t(process_.processId()), SIGINT);
    if (!process_.waitForFinished(kStopMs)) {
      process_.kill();
      process_.waitForFinished(kStopMs);
      return -1;
    }
  }
  collect();
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

bool StartQuietPrinterAt(QProcess &process, const QString &address, quint16 port,
                         const QString &status) {
  process.start(PrinterProcess::ProgramPath(),
                {QStringLiteral("--tcp"), QStringLiteral("%1:%2").arg(address).arg(port),
                 QStringLiteral("--status"), status, QStringLiteral("--quiet")});
  return WaitUntil([&] { return process.canReadLine(); }, 10000);
}

} // namespace pellicar::test
