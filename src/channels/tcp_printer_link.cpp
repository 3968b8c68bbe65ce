#include "channels/tcp_printer_link.h"

#include "platform/system_error.h"

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
      failure_ = QStringLiteral("%1 failed: %2")
                     .arg(kind == TErrorEvent::eeSend ? QStringLiteral("writing")
                                                      : QStringLiteral("reading"),
                          SystemErrorDetail(code));
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
  QObject::connect(&socket, &TCustomWinSocket::CloseFinished, [this](qint64, bool) {
    closed_ = true;
    Wake();
  });
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
  if (failure_.isEmpty())
    failure_ = QStringLiteral("timed out waiting for the connection");
  client_.SetActive(false);
  throw EPrinterLinkError(failure_);
}

TTcpPrinterLink::~TTcpPrinterLink() {
  if (!client_.Active())
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
  QTimer bound;
  bound.setSingleShot(true);
  bound.setTimerType(Qt::PreciseTimer);
  QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
  waiting_ = &loop;
  while (!done() && !deadline.hasExpired()) {
    // Started again each time: a timer may fire a little before the
    // deadline has passed.
    bound.start(int(std::clamp<qint64>(deadline.remainingTime(), 1, 1 << 30)));
    loop.exec();
  }
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

void TTcpPrinterLink::DiscardInput() {
  received_.clear();
  QByteArray old;
  if (client_.Socket().Receive(old) != TcpInput::Open)
    ended_ = true;
}

} // namespace pellicar
