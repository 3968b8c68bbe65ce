#include "printer/printer_server.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <utility>

#include <unistd.h>

namespace pellicar {

namespace {

// After the system refused to hand out a connection (no descriptors left),
// the next attempt waits this long, so that a full table does not keep the
// program spinning.
constexpr int kAcceptRetryMs = 1000;

// Pictures of printed pages kept in --out: enough to look back over a
// session, few enough that a flood of form feeds cannot fill the disk.
constexpr int kKeptPages = 50;

// Control characters that reached a log line some other way than
// through EscapedText (a peer's address never holds any, but the log is
// read on terminals): shown as \uNNNN.
QString Printable(const QString &line) {
  QString shown;
  shown.reserve(line.size());
  for (const QChar c : line) {
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
        c == QChar::ParagraphSeparator)
      shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    else
      shown += c;
  }
  return shown;
}

VirtualPrinterOptions PrinterSetup(const PrinterOptions &options, const QString &identity) {
  VirtualPrinterOptions setup;
  setup.status = options.status;
  setup.pictures = !options.outDir.isEmpty();
  setup.identity = identity;
  setup.keptPages = kKeptPages;
  return setup;
}

} // namespace

PrinterServer::PrinterServer(const PrinterOptions &options, const QString &identity,
                             QObject *parent)
    : QObject(parent), options_(options), out_(STDOUT_FILENO), errors_(STDERR_FILENO),
      printer_(PrinterSetup(options, identity)) {
  // The printer's lines wait until the state file holds what they tell.
  printer_.onLog = [this](const QString &line) { pendingLines_ << line; };
  printer_.onPicture = [this](const QString &name, const QImage &picture) {
    writePicture(name, picture);
  };
  connect(&listener_, &TcpListener::connectionWaiting, this, &PrinterServer::serveNext);
  hold_.setSingleShot(true);
  connect(&hold_, &QTimer::timeout, this, &PrinterServer::checkHold);
  leftOutNote_.setSingleShot(true);
  connect(&leftOutNote_, &QTimer::timeout, this, &PrinterServer::sayLeftOut);
  logClock_.start();
}

PrinterServer::~PrinterServer() {
  delete connection_.data();
  delete serialLine_.data();
  terminal_.Close();
  sayLeftOut();
}

bool PrinterServer::Start(QString *error) {
  if (!options_.outDir.isEmpty() && !pictures_.Open(options_.outDir, true, error))
    return false;
  if (!options_.stateFile.isEmpty()) {
    // Each state is renamed over the file, which replaces a link rather
    // than writing through it; one that is there from the start is
    // refused, so that nobody is surprised by the link's disappearance.
    if (IsSymbolicLink(options_.stateFile)) {
      *error = QStringLiteral("the state file %1 is a symbolic link: give a plain file")
                   .arg(options_.stateFile);
      return false;
    }
    const QFileInfo state(options_.stateFile);
    stateName_ = state.fileName();
    if (!stateFolder_.Open(state.path(), false, error))
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
    out_.Line(QStringLiteral("Listening on ") + listener_.Endpoint());
  if (options_.pty)
    out_.Line(QStringLiteral("Serial port: ") + terminal_.SlavePath());
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
  out_.Line(QStringLiteral("Listening on ") + listener_.Endpoint());
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
  if (connection_) {
    // Another connection waits: the one being served may keep the printer
    // only while it sends commands.
    listener_.SetWatching(false);
    checkHold();
    return;
  }
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
  // The listener keeps watching, to tell when one does.
  peer_ = peer;
  log(QStringLiteral("Connection from ") + peer);
  connection_ = makeChannel(fd, StreamChannel::Kind::Connection);
  connect(connection_, &StreamChannel::finished, this, [this] {
    log(QStringLiteral("Connection closed after %1 bytes")
            .arg(GroupedNumber(connection_->Received())));
    connection_->deleteLater();
    connection_ = nullptr;
    hold_.stop();
    listener_.SetWatching(true);
    if (options_.takeIp)
      takeNewAddress();
  });
}

void PrinterServer::checkHold() {
  if (!connection_)
    return;
  const qint64 limitMs = qint64(options_.holdLimitS) * 1000;
  const qint64 quietMs = connection_->MsSinceCommand();
  if (quietMs < limitMs) {
    hold_.start(int(limitMs - quietMs));
    return;
  }
  log(QStringLiteral("Closed the connection from %1: no complete command for %2 s while another "
                     "connection waited (--hold-limit)")
          .arg(peer_)
          .arg(quietMs / 1000));
  connection_->Close();
}

void PrinterServer::log(const QString &line) {
  if (options_.quiet)
    return;
  // A token bucket: kLogBurstLines at once, then kLogLinesPerSecond.
  const double seconds = double(logClock_.restart()) / 1000;
  logTokens_ = std::min(kLogBurstLines, logTokens_ + seconds * kLogLinesPerSecond);
  if (logTokens_ < 1) {
    if (leftOut_++ == 0)
      leftOutNote_.start(1000);
    return;
  }
  logTokens_ -= 1;
  sayLeftOut();
  out_.Line(Printable(line));
}

void PrinterServer::sayLeftOut() {
  if (leftOut_ == 0)
    return;
  out_.Line(QStringLiteral("(%1 log lines left out here: more than %2 a second)")
                .arg(GroupedNumber(std::exchange(leftOut_, 0)))
                .arg(kLogLinesPerSecond));
  leftOutNote_.stop();
}

void PrinterServer::problem(const QString &line) {
  errors_.Line(QStringLiteral("pellicar-printer: ") + Printable(line));
}

void PrinterServer::writeState() {
  if (!stateFolder_.IsOpen())
    return;
  QString error;
  const bool written = stateFolder_.Write(stateName_, printer_.State().ToFileBytes(), &error);
  if (!written && !stateFailed_)
    problem(QStringLiteral("cannot write the state file: %1").arg(error));
  stateFailed_ = !written;
}

void PrinterServer::writePicture(const QString &name, const QImage &picture) {
  QString error;
  if (picture.isNull()) {
    if (!pictures_.Remove(name, &error))
      problem(error);
    return;
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, "PNG"))
    problem(QStringLiteral("cannot draw %1").arg(name));
  else if (!pictures_.Write(name, png, &error))
    problem(error);
}

} // namespace pellicar
