#pragma once

// The built pellicar-printer run as a child process, for tests that send
// to it (the command-line tool, the window, the print queue) and read what
// it made of the bytes: its log lines, its state file, its pictures.

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace pellicar::test {

class PrinterProcess {
public:
  PrinterProcess() = default;
  ~PrinterProcess() { Stop(); }
  PrinterProcess(const PrinterProcess &) = delete;
  PrinterProcess &operator=(const PrinterProcess &) = delete;

  static QString ProgramPath();

  // Starts it with --tcp 127.0.0.1:0 --pty --state and --out in a folder
  // of its own, plus `extra`, and waits for the lines that name its port
  // and serial line. False when it did not come up (Message() says why).
  bool Start(const QStringList &extra = {});
  const QString &Message() const { return message_; }

  quint16 Port() const { return port_; }
  const QString &SerialPath() const { return serialPath_; }
  QString OutDir() const { return folder_.filePath(QStringLiteral("out")); }

  // The log lines so far, without the lines about connections opening
  // and closing.
  QStringList Log();
  // Spins the event loop until the log holds at least `count` lines.
  bool WaitForLog(qsizetype count, int timeoutMs = 10000);
  void ClearLog() { Log(), lines_.clear(); }

  QJsonObject State() const;

  // Ctrl-C; returns the exit code (-1: it crashed or hung).
  int Stop();

private:
  void collect();

  QTemporaryDir folder_;
  QProcess process_;
  QByteArray partial_;
  QStringList lines_;
  QString message_;
  quint16 port_ = 0;
  QString serialPath_;
  bool running_ = false;
};

// Starts a second, quiet pellicar-printer in `process` on ADDRESS:PORT (a
// 127.0.0.x of its own) answering status requests as `status`; true once
// it is listening.
bool StartQuietPrinterAt(QProcess &process, const QString &address, quint16 port,
                         const QString &status);

} // namespace pellicar::test
