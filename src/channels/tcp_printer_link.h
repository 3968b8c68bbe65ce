#pragma once

#include "channels/client_socket.h"
#include "channels/printer_link.h"

#include <QByteArray>
#include <QString>

class QEventLoop;

namespace pellicar {

// A printer link over the window's own TCP client (TClientSocket): it
// sends through the client's socket object and reads the printer's answers
// from it. Every wait runs the event loop until the client reports, or the
// deadline. Main thread.
class TTcpPrinterLink : public TPrinterLink {
public:
  // How long the close at the end may take for the printer to take the
  // rest and end its side, before the link gives the connection up.
  static constexpr int kCloseMs = 2000;

  // Looks `host` up and connects to it at `port`. Throws EPrinterLinkError:
  // "the host could not be looked up: ...", "the connection failed: ...",
  // or ELinkStalled "timed out waiting for the connection" when the
  // deadline passes first.
  TTcpPrinterLink(const QString &host, quint16 port, const QDeadlineTimer &deadline);
  // Closes the connection in order, waiting at most kCloseMs, unless Close
  // did.
  ~TTcpPrinterLink() override;

  // Hands `bytes` to the connection ("the printer closed the connection"
  // when it has ended; "sending failed: ..." when the socket refused).
  void Send(const QByteArray &bytes, const QDeadlineTimer &deadline) override;
  bool Receive(QByteArray &into, const QDeadlineTimer &deadline) override;
  // Waits until the printer's side acknowledged everything sent.
  void Drain(const QDeadlineTimer &deadline) override;
  void DiscardInput() override;
  // Closes in order, waiting at most kCloseMs ("timed out after 2 s waiting
  // for the connection to close" when it does not end); throws when the
  // connection broke after the printer acknowledged every byte of a
  // transfer (it may have thrown away what it had not read). Returns 0:
  // what a transfer did not get is told by DrainStep and LossNote.
  quint64 Close() override;

  // The transfer goes as a stream of the client's socket: a printer that
  // ends its sending side and goes on reading is not closed on, and its
  // progress is what it acknowledged. One transfer at a time (DrainStep
  // until true before the next). Throws "the connection did not take the
  // data" when the socket refused it.
  bool Transfer(const QByteArray &bytes) override;
  qint64 Acknowledged() const override { return acknowledgedBefore_ + acknowledged_; }
  // Waits for the transfer under way (if any) to be acknowledged whole;
  // throws "the connection ended before the printer had everything" when
  // it was cut short (LossNote then says how much the printer has, and
  // why).
  bool DrainStep(const QDeadlineTimer &deadline) override;
  QString LossNote(qint64 sent, qint64 total, quint64 lost) const override;

private:
  // Runs the event loop until `done` holds, the link ended, or `deadline`.
  template <typename Done> void Await(const QDeadlineTimer &deadline, Done done);
  void Wake();
  [[noreturn]] void Ended() const;

  TClientSocket client_;
  QByteArray received_;
  bool connected_ = false;
  bool ended_ = false;        // the printer closed or the connection broke
  bool drained_ = true;       // everything sent was acknowledged
  bool closed_ = false;       // the orderly close has finished
  QString failure_;           // why the connection did not come about, or broke
  QString cause_;             // what broke the connection, for LossNote
  bool transferring_ = false; // a transfer is neither delivered nor cut short
  bool cutShort_ = false;     // a transfer ended before it was acknowledged whole
  bool progressed_ = false;   // the printer acknowledged more since DrainStep began
  bool exact_ = true;         // acknowledged_ was read at the end
  bool broken_ = false;       // the connection broke rather than closing in order
  bool closeCalled_ = false;
  qint64 handed_ = 0;             // bytes handed to this connection (Send, Transfer)
  qint64 handedBefore_ = 0;       // of them, before the transfer under way
  qint64 transferSize_ = 0;       // of the transfer under way
  qint64 transferred_ = 0;        // bytes handed over by Transfer
  qint64 acknowledgedBefore_ = 0; // of the transfers delivered whole
  qint64 acknowledged_ = 0;       // of the transfer under way or cut short
  QEventLoop *waiting_ = nullptr;
};

} // namespace pellicar
