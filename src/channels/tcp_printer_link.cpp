#include "channels/tcp_printer_link.h"

#include "platform/system_error.h"

#include <QBuffer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace pellicar {

TTcpPrinterLink::TTcpPrinterLink(const QString &host, quint16 port,
                                 const QDeadlineTimer &deadline) {
  TCustomWinSocket &socket = client_.Socket();
  client_.OnConnect = [this](TCustomWinSocket &) {
    connected_ = true;
    Wake();
  };
  client_.OnRead = [this](TCustomWinSocket &from) {
    // Read at once: the socket reports new data only once.
    if (from.Receive(received_) != TcpInput::Open)
      ended_ = true;
    Wake();
  };
  client_.OnDisconnect = [this](TCustomWinSocket &) {
    ended_ = true;
    Wake();
  };
  client_.OnError = [this](TCustomWinSocket &, TErrorEvent kind, int &code) {
    if (kind == TErrorEvent::eeLookup) {
      failure_ = QStringLiteral("the host could not be looked up: %1").arg(SystemErrorDetail(code));
    } else if (kind == TErrorEvent::eeConnect) {
      failure_ = QStringLiteral("the connection failed: %1").arg(SystemErrorDetail(code));
    } else {
      ended_ = true;
      cause_ = QStringLiteral("%1: %2").arg(kind == TErrorEvent::eeSend
                                                ? QStringLiteral("sending failed")
                                                : QStringLiteral("the connection broke"),
                                            SystemErrorDetail(code));
      failure_ = QStringLiteral("%1 failed: %2")
                     .arg(kind == TErrorEvent::eeSend ? QStringLiteral("writing")
                                                      : QStringLiteral("reading"),
                          SystemErrorDetail(code));
      // A broken connection does not end a transfer by itself: the close
      // does, and tells how much of it the printer has.
      if (kind == TErrorEvent::eeDisconnect && transferring_ && client_.Active())
        client_.SetActive(false);
    }
    code = 0; // reported by the link's own calls
    Wake();
  };
  client_.SetExceptionHandler([this](std::exception_ptr) {
    ended_ = true;
    Wake();
  });
  QObject::connect(&socket, &TCustomWinSocket::Drained, [this] {
    drained_ = true;
    Wake();
  });
  QObject::connect(&socket, &TCustomWinSocket::CloseFinished, [this](qint64, bool broken) {
    closed_ = true;
    broken_ = broken;
    Wake();
  });
  QObject::connect(&socket, &TCustomWinSocket::StreamAcknowledged, [this](qint64 done, qint64) {
    if (done > acknowledged_)
      progressed_ = true;
    acknowledged_ = done;
    Wake();
  });
  QObject::connect(&socket, &TCustomWinSocket::StreamFinished,
                   [this](bool delivered, qint64 done, qint64, bool exact) {
                     transferring_ = false;
                     if (delivered) {
                       acknowledgedBefore_ += done;
                       acknowledged_ = 0;
                     } else {
                       acknowledged_ = done;
                       exact_ = exact;
                       cutShort_ = true;
                     }
                     Wake();
                   });
  // The send loop's bound is the stall limit of a transfer: the socket's
  // own would end it first.
  socket.SetStreamStallLimit(0);
  client_.SetHost(host);
  client_.SetPort(port);
  try {
    client_.SetActive(true);
  } catch (const Exception &e) {
    throw EPrinterLinkError(e.message());
  }
  Await(deadline, [this] { return connected_ || !failure_.isEmpty(); });
  if (connected_)
    return;
  client_.SetActive(false);
  if (failure_.isEmpty())
    throw ELinkStalled(QStringLiteral("timed out waiting for the connection"));
  throw EPrinterLinkError(failure_);
}

TTcpPrinterLink::~TTcpPrinterLink() {
  if (closeCalled_ || !client_.Active())
    return;
  // The printer's answers were read; what is left is thrown away so that
  // the close ends the connection in order rather than resetting it.
  DiscardInput();
  client_.SetActive(false);
  Await(QDeadlineTimer(kCloseMs), [this] { return closed_; });
}

template <typename Done> void TTcpPrinterLink::Await(const QDeadlineTimer &deadline, Done done) {
  if (done() || deadline.hasExpired())
    return;
  QEventLoop loop;
  waiting_ = &loop;
  while (!done() && !deadline.hasExpired())
    RunEventLoopUntil(loop, deadline);
  waiting_ = nullptr;
}

void TTcpPrinterLink::Wake() {
  if (waiting_)
    waiting_->quit();
}

void TTcpPrinterLink::Ended() const {
  if (!failure_.isEmpty())
    throw EPrinterLinkError(failure_); // the connection broke
  throw EPrinterLinkError(QStringLiteral("the printer closed the connection"));
}

void TTcpPrinterLink::Send(const QByteArray &bytes, const QDeadlineTimer &) {
  if (ended_ || !client_.Active())
    Ended();
  drained_ = false;
  if (client_.Socket().SendString(bytes) != bytes.size()) {
    if (ended_ || !client_.Active())
      Ended();
    throw EPrinterLinkError(QStringLiteral("sending failed"));
  }
  handed_ += bytes.size();
}

bool TTcpPrinterLink::Receive(QByteArray &into, const QDeadlineTimer &deadline) {
  Await(deadline, [this] { return !received_.isEmpty() || ended_; });
  if (!received_.isEmpty()) {
    into += received_;
    received_.clear();
    return true;
  }
  if (ended_)
    Ended();
  return false;
}

void TTcpPrinterLink::Drain(const QDeadlineTimer &deadline) {
  Await(deadline, [this] { return drained_ || ended_; });
  if (drained_)
    return;
  if (ended_)
    Ended();
  throw ELinkStalled(QStringLiteral("timed out waiting for the printer to take what was written"));
}

bool TTcpPrinterLink::Transfer(const QByteArray &bytes) {
  if (ended_ || !client_.Active())
    Ended();
  if (bytes.isEmpty())
    return true; // nothing to wait for
  auto stream = std::make_unique<QBuffer>();
  stream->setData(bytes);
  stream->open(QIODevice::ReadOnly);
  handedBefore_ = handed_;
  handed_ += bytes.size();
  transferSize_ = bytes.size();
  transferred_ += bytes.size();
  acknowledged_ = 0;
  transferring_ = true;
  bool taken = false;
  try {
    taken = client_.Socket().BeginStreamSend(std::move(stream));
  } catch (const EAbort &) {
    return true; // a failed first piece: StreamFinished told, DrainStep says so
  } catch (const Exception &e) {
    transferring_ = false;
    throw EPrinterLinkError(e.message());
  }
  if (!taken) {
    transferring_ = false;
    throw EPrinterLinkError(QStringLiteral("the connection did not take the data"));
  }
  return true;
}

bool TTcpPrinterLink::DrainStep(const QDeadlineTimer &deadline) {
  progressed_ = false;
  // A printer that ended its side while a transfer is under way is no
  // failure as long as it takes the data: only the transfer's end tells.
  Await(deadline,
        [this] { return progressed_ || cutShort_ || (!transferring_ && (drained_ || ended_)); });
  if (cutShort_)
    throw EPrinterLinkError(
        QStringLiteral("the connection ended before the printer had everything"));
  if (!transferring_ && drained_)
    return true;
  if (progressed_)
    return false;
  if (!transferring_ && ended_)
    Ended();
  // The count as the system has it now, not as last read: what the
  // connection acknowledged beyond what went before this transfer.
  if (transferring_)
    acknowledged_ = std::clamp(client_.Socket().Acknowledged() - handedBefore_, acknowledged_,
                               std::max(acknowledged_, transferSize_));
  throw ELinkStalled(QStringLiteral("timed out waiting for the printer to take what was written"));
}

QString TTcpPrinterLink::LossNote(qint64, qint64 total, quint64) const {
  if (!cutShort_)
    return {};
  return QStringLiteral(" (it has %1%2 of %3 bytes)%4")
      .arg(exact_ ? QString() : QStringLiteral("at least "))
      .arg(Acknowledged())
      .arg(total)
      .arg(cause_.isEmpty() ? QString() : QStringLiteral(": ") + cause_);
}

quint64 TTcpPrinterLink::Close() {
  closeCalled_ = true;
  if (client_.Active()) {
    DiscardInput();
    client_.SetActive(false);
  }
  Await(QDeadlineTimer(kCloseMs),
        [this] { return closed_ || client_.Socket().ClosesPending() == 0; });
  if (!closed_ && client_.Socket().ClosesPending() > 0)
    throw EPrinterLinkError(
        QStringLiteral("timed out after %1 s waiting for the connection to close")
            .arg(Seconds(kCloseMs)));
  // A printer that read everything ends its side in order; one that resets
  // after acknowledging every byte has thrown away those it had not read
  // (how many, only it knows).
  if (broken_ && !cutShort_ && transferred_ > 0)
    throw EPrinterLinkError(
        QStringLiteral("the printer acknowledged all %1 bytes but may have thrown away some it "
                       "had not read: %2")
            .arg(transferred_)
            .arg(cause_.isEmpty() ? QStringLiteral("the connection broke") : cause_));
  return 0;
}

void TTcpPrinterLink::DiscardInput() {
  received_.clear();
  QByteArray old;
  if (client_.Socket().Receive(old) != TcpInput::Open)
    ended_ = true;
}

} // namespace pellicar
