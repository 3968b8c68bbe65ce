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
  // or "timed out waiting for the connection" when the deadline passes
  // first.
  TTcpPrinterLink(const QString &host, quint16 port, const QDeadlineTimer &deadline);
  // Closes the connection in order, waiting at most kCloseMs.
  ~TTcpPrinterLink() override;

  // Hands `bytes` to the connection ("the printer closed the connection"
  // when it has ended; "sending failed: ..." when the socket refused).
  void Send(const QByteArray &bytes, const QDeadlineTimer &deadline) override;
  bool Receive(QByteArray &into, const QDeadlineTimer &deadline) override;
  // Waits until the printer's side acknowledged everything sent.
  void Drain(const QDeadlineTimer &deadline) override;
  void DiscardInput() override;

private:
  // Runs the event loop until `done` holds, the link ended, or `deadline`.
  template <typename Done> void Await(const QDeadlineTimer &deadline, Done done);
  void Wake();
  [[noreturn]] void Ended() const;

  TClientSocket client_;
  QByteArray received_;
  bool connected_ = false;
  bool ended_ = false;  // the printer closed or the connection broke
  bool drained_ = true; // everything sent was acknowledged
  bool closed_ = false; // the orderly close has finished
  QString failure_;     // why the connection did not come about, or broke
  QEventLoop *waiting_ = nullptr;
};

} // namespace pellicar
