#include "channels/closing_connection.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <vector>

namespace pellicar {

namespace {

// The closes of this thread, for FinishAll.
thread_local std::vector<TClosingConnection *> closes;

} // namespace

TClosingConnection *TClosingConnection::Start(std::unique_ptr<TcpSocket> socket, QByteArray unsent,
                                              qint64 handed, qint64 acknowledged, int stallLimitMs,
                                              bool resetNow) {
  return new TClosingConnection(std::move(socket), std::move(unsent), handed, acknowledged,
                                stallLimitMs, resetNow);
}

TClosingConnection::TClosingConnection(std::unique_ptr<TcpSocket> socket, QByteArray unsent,
                                       qint64 handed, qint64 acknowledged, int stallLimitMs,
                                       bool resetNow)
    : QObject(QCoreApplication::instance()), socket_(std::move(socket)), unsent_(std::move(unsent)),
      handed_(handed), acknowledged_(acknowledged), stallLimitMs_(stallLimitMs),
      watch_([this] { Step(true); }, this) {
  closes.push_back(this);
  // The socket reports from inside its own notifier; the work is done from
  // the event loop, where closing the socket is safe.
  socket_->SetNotify([this](TcpEvent, int) {
    QMetaObject::invokeMethod(
        this, [this] { Step(false); }, Qt::QueuedConnection);
  });
  limit_.setSingleShot(true);
  if (resetNow) {
    // Nothing more may reach the printer from the moment of the call; the
    // report still comes from the event loop, as every close's does.
    socket_->Reset();
    QMetaObject::invokeMethod(
        this, [this] { End(true); }, Qt::QueuedConnection);
    return;
  }
  connect(&limit_, &QTimer::timeout, this, [this] { End(!shutDown_); });
  limit_.start(stallLimitMs_);
  QMetaObject::invokeMethod(
      this, [this] { Step(false); }, Qt::QueuedConnection);
}

// Cut off by the end of the application: what did not go out by now must
// not trickle out after the program has ended (and could no longer say so).
TClosingConnection::~TClosingConnection() {
  Forget();
  if (socket_)
    socket_->Reset();
}

void TClosingConnection::Forget() {
  closes.erase(std::remove(closes.begin(), closes.end(), this), closes.end());
}

int TClosingConnection::Pending() { return int(closes.size()); }

qint64 TClosingConnection::FinishAll() {
  qint64 undelivered = 0;
  const std::vector<TClosingConnection *> waiting = closes;
  if (waiting.empty())
    return 0;
  QEventLoop loop;
  int left = int(waiting.size());
  for (TClosingConnection *close : waiting)
    connect(close, &TClosingConnection::Finished, &loop, [&](qint64 lost, qint64, bool) {
      undelivered += lost;
      if (--left == 0)
        loop.quit();
    });
  loop.exec();
  return undelivered;
}

void TClosingConnection::Step(bool fromWatch) {
  if (ended_)
    return;
  if (!shutDown_) {
    bool progress = false;
    while (!unsent_.isEmpty()) {
      int error = 0;
      const qint64 n = socket_->Send(unsent_.constData(), unsent_.size(), error);
      if (n < 0) {
        broken_ = true;
        return End(true);
      }
      if (n == 0)
        break; // full: Writable follows
      unsent_.remove(0, n);
      handed_ += n;
      progress = true;
    }
    int error = 0;
    const qint64 outstanding = socket_->Unacknowledged(error);
    // A broken connection's count is taken too (how far the printer got),
    // unless it reads 0, which would claim everything.
    const bool counted = outstanding > 0 || (outstanding == 0 && error == 0);
    if (counted && handed_ - outstanding > acknowledged_) {
      acknowledged_ = handed_ - outstanding;
      progress = true;
    }
    if (outstanding < 0 || error != 0) {
      broken_ = true;
      return End(true); // what is not acknowledged now never will be
    }
    if (progress)
      limit_.start(stallLimitMs_);
    if (!unsent_.isEmpty())
      return;
    if (outstanding > 0) {
      if (fromWatch)
        watch_.Again();
      else if (!watch_.Active())
        watch_.Start();
      return;
    }
    // The printer has every byte: the end of the stream may follow.
    watch_.Stop();
    socket_->ShutdownSend();
    shutDown_ = true;
    limit_.start(kPeerCloseMs);
  }
  const TcpInput input = socket_->DiscardInput();
  if (input != TcpInput::Open) {
    broken_ = input == TcpInput::Broken;
    End(false);
  }
}

void TClosingConnection::End(bool reset) {
  if (ended_)
    return;
  ended_ = true;
  Forget();
  limit_.stop();
  watch_.Stop();
  const qint64 undelivered = reset ? unsent_.size() + (handed_ - acknowledged_) : 0;
  if (reset) {
    socket_->Reset();
  } else {
    // Whatever the printer sent last is read first: closing with unread
    // input would send a reset instead of the end of the stream.
    socket_->DiscardInput();
    socket_->Close();
  }
  socket_.reset();
  emit Finished(undelivered, acknowledged_, broken_);
  deleteLater();
}

} // namespace pellicar
