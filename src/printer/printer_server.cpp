#include "printer/printer_server.h"

#include <QDir>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace pellicar {

namespace {

// After the system refused to hand out a connection (no descriptors left),
// the next attempt waits this long, so that a full table does not keep the
// program spinning.
constexpr int kAcceptRetryMs = 1000;

void PrintLine(std::FILE *stream, const QString &line) {
  const QByteArray bytes = line.toUtf8() + '\n';
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
  std::fflush(stream);
}

VirtualPrinterOptions PrinterSetup(const PrinterOptions &options, const QString &identity) {
  VirtualPrinterOptions setup;
  setup.status = options.status;
  setup.pictures = !options.outDir.isEmpty();
  setup.identity = identity;
  return setup;
}

} // namespace

PrinterServer::PrinterServer(const PrinterOptions &options, const QString &identity,
                             QObject *parent)
    : QObject(parent), options_(options), printer_(PrinterSetup(options, identity)) {
  // The printer's lines wait until the state file holds what they tell.
  printer_.onLog = [this](const QString &line) { pendingLines_ << line; };
  printer_.onPicture = [this](const QString &name, const QImage &picture) {
    writePicture(name, picture);
  };
  connect(&listener_, &TcpListener::connectionWaiting, this, &PrinterServer::serveNext);
}

PrinterServer::~PrinterServer() {
  delete connection_.data();
  delete serialLine_.data();
  terminal_.Close();
}

bool PrinterServer::Start(QString *error) {
  if (!options_.outDir.isEmpty() && !QDir().mkpath(options_.outDir)) {
    *error = QStringLiteral("cannot make the folder %1").arg(options_.outDir);
    return false;
  }
  if (options_.tcp && !listener_.Listen(options_.tcpAddress, options_.tcpPort, error))
    return false;
  if (options_.pty) {
    if (!terminal_.Open(error))
      return false;
    serialLine_ = makeChannel(terminal_.TakeMaster(), StreamChannel::Kind::SerialLine);
    connect(serialLine_, &StreamChannel::finished, this, [this] {
      serialLine_->deleteLater();
      terminal_.Close();
      if (!options_.tcp)
        emit idle();
    });
  }
  if (options_.tcp)
    PrintLine(stdout, QStringLiteral("Listening on ") + listener_.Endpoint());
  if (options_.pty)
    PrintLine(stdout, QStringLiteral("Serial port: ") + terminal_.SlavePath());
  writeState();
  return true;
}

void PrinterServer::takeNewAddress() {
  const QString ip = printer_.State().ethernet.value(QStringLiteral("ip")).toString();
  if (ip.isEmpty() || ip == ignoredIp_ || listener_.Endpoint().startsWith(ip + QLatin1Char(':')))
    return;
  // Only loopback: a test or a demonstration must never make this program
  // answer on a real network.
  if (!ip.startsWith(QLatin1String("127."))) {
    ignoredIp_ = ip;
    log(QStringLiteral("IP %1 not taken: only loopback addresses are").arg(ip));
    return;
  }
  QString error;
  if (!listener_.Listen(ip, listener_.Port(), &error)) {
    ignoredIp_ = ip;
    problem(QStringLiteral("cannot take the IP %1: %2").arg(ip, error));
    return;
  }
  PrintLine(stdout, QStringLiteral("Listening on ") + listener_.Endpoint());
}

StreamChannel *PrinterServer::makeChannel(int fd, StreamChannel::Kind kind) {
  ReadFaults faults;
  faults.readDelayMs = options_.readDelayMs;
  faults.stopReadingAfter = options_.stopReadingAfter;
  faults.resetAfter = options_.resetAfter;
  auto *channel = new StreamChannel(fd, kind, printer_, faults, this);
  channel->onFed = [this] {
    if (printer_.TakeChanged())
      writeState();
    for (const QString &line : std::exchange(pendingLines_, {}))
      log(line);
  };
  channel->onNote = [this](const QString &line) { log(line); };
  return channel;
}

void PrinterServer::serveNext() {
  if (connection_)
    return;
  QString peer;
  QString error;
  const int fd = listener_.Accept(&peer, &error);
  if (fd < 0 && !error.isEmpty()) {
    // The connection stays queued and would wake the listener at once
    // again: look again after a pause.
    problem(error);
    listener_.SetWatching(false);
    QTimer::singleShot(kAcceptRetryMs, this, [this] {
      if (!connection_)
        listener_.SetWatching(true);
    });
  }
  if (fd < 0)
    return;
  // One connection at a time: the next ones wait in the system's queue.
  listener_.SetWatching(false);
  log(QStringLiteral("Connection from ") + peer);
  connection_ = makeChannel(fd, StreamChannel::Kind::Connection);
  connect(connection_, &StreamChannel::finished, this, [this] {
    log(QStringLiteral("Connection closed after %1 bytes")
            .arg(GroupedNumber(connection_->Received())));
    connection_->deleteLater();
    connection_ = nullptr;
    listener_.SetWatching(true);
    if (options_.takeIp)
      takeNewAddress();
  });
}

void PrinterServer::log(const QString &line) {
  if (!options_.quiet)
    PrintLine(stdout, line);
}

void PrinterServer::problem(const QString &line) {
  PrintLine(stderr, QStringLiteral("pellicar-printer: ") + line);
}

void PrinterServer::writeState() {
  if (options_.stateFile.isEmpty())
    return;
  // Written beside the file and renamed over it: a reader sees the old
  // state or the new one, never a part.
  QSaveFile file(options_.stateFile);
  const bool written = file.open(QIODevice::WriteOnly) &&
                       file.write(printer_.State().ToFileBytes()) >= 0 && file.commit();
  if (!written && !stateFailed_)
    problem(QStringLiteral("cannot write the state file %1: %2")
                .arg(options_.stateFile, file.errorString()));
  stateFailed_ = !written;
}

void PrinterServer::writePicture(const QString &name, const QImage &picture) {
  const QString path = QDir(options_.outDir).filePath(name);
  if (picture.isNull()) {
    QFile::remove(path);
    return;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit())
    problem(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

} // namespace pellicar
