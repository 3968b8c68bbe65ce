#pragma once

#include "channels/ack_watch.h"
#include "platform/tcp_socket.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>

namespace pellicar {

// A connection being closed in order. What was accepted for the printer
// still goes out for as long as the printer keeps taking it; once the
// printer's side has acknowledged every byte, the sending side is shut
// down, and the socket is closed when the printer has closed its side (or
// after kPeerCloseMs). A printer that makes no progress (takes or
// acknowledges no byte) for kStallLimitMs ends the close: the connection is reset, so that nothing
// reported as undelivered turns up at the printer later.
//
// It lives on by itself after the socket object that started it, as a child
// of the application object: released with it at the latest, which resets
// a connection still closing then. It never blocks: everything happens in
// the event loop of the thread that made it.
class TClosingConnection : public QObject {
  Q_OBJECT
public:
  // How long a close waits for the printer to take or acknowledge another
  // byte before it gives up. A printer that is busy printing stops reading
  // for a moment; one that stays silent this long is out of paper, off or
  // gone.
  static constexpr int kStallLimitMs = 5000;
  // How long the printer has to close its side once it has everything; by
  // then nothing is left to lose, so the wait is short.
  static constexpr int kPeerCloseMs = 1000;

  // Takes `socket` over (its notifications come here from now on) and
  // sends `unsent` on it. Before, `handed` bytes were handed to the socket,
  // of which `acknowledged` were acknowledged. The close gives up after
  // `stallLimitMs` without progress. Finished follows from the event loop,
  // also when there is nothing left to send. `resetNow`: the transfer was
  // abandoned; the connection is reset at once, and everything not
  // acknowledged counts as undelivered.
  static TClosingConnection *Start(std::unique_ptr<TcpSocket> socket, QByteArray unsent,
                                   qint64 handed, qint64 acknowledged,
                                   int stallLimitMs = kStallLimitMs, bool resetNow = false);

  // Closes still going on in this thread.
  static int Pending();
  // Runs the event loop until every close of this thread has finished
  // (each is bounded by its own limits). Returns the bytes they did not
  // deliver, in total. For the end of a program.
  static qint64 FinishAll();

  ~TClosingConnection() override;

signals:
  // The close has ended. `undelivered`: the accepted bytes the printer did
  // not get (never sent, or sent and never acknowledged). `acknowledged`:
  // every byte ever handed to this socket that the printer acknowledged,
  // counted as `handed` was. `broken`: the connection broke (the printer's
  // reset, or a network failure) instead of ending in order or by our own
  // time limit. With nothing undelivered, the printer threw the connection
  // away after its side had acknowledged everything: a printer that closes
  // with bytes it has not read does exactly that, and they are lost. One
  // that read everything ends its stream instead.
  void Finished(qint64 undelivered, qint64 acknowledged, bool broken);

private:
  TClosingConnection(std::unique_ptr<TcpSocket> socket, QByteArray unsent, qint64 handed,
                     qint64 acknowledged, int stallLimitMs, bool resetNow);

  void Step(bool fromWatch);
  void End(bool reset);
  void Forget();

  std::unique_ptr<TcpSocket> socket_;
  QByteArray unsent_;
  qint64 handed_;
  qint64 acknowledged_;
  int stallLimitMs_;
  bool shutDown_ = false;
  bool ended_ = false;
  bool broken_ = false;
  QTimer limit_;
  TAckWatch watch_;
};

} // namespace pellicar
