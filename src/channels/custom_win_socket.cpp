#include "channels/custom_win_socket.h"

#include "channels/socket_error.h"

#include <QtDebug>

namespace pellicar {

namespace {

constexpr qint64 kPieceSize = 4096;
// How long a close waits for the printer to close its side.
constexpr int kCloseBoundMs = 1000;
// The code OnError receives when there is neither a host nor an address.
constexpr int kNoAddressCode = 1110;

// Runs a scope with a flag raised, also when it is left by an exception.
class FlagGuard {
public:
  explicit FlagGuard(bool &flag) : flag_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard &) = delete;
  FlagGuard &operator=(const FlagGuard &) = delete;

private:
  bool &flag_;
};

} // namespace

TCustomWinSocket::TCustomWinSocket(std::shared_ptr<HostResolver> resolver, QObject *parent)
    : QObject(parent), resolver_(std::move(resolver)),
      window_([this](QEvent &event) { Dispatch(event); }) {}

TCustomWinSocket::~TCustomWinSocket() {
  events_ = nullptr;
  try {
    CloseAttempt(attempt_);
  } catch (...) {
    // A close that fails while the object goes has nobody left to tell.
  }
}

QEvent::Type TCustomWinSocket::SocketEventType() {
  static const QEvent::Type type = RegisterEventType();
  return type;
}

QEvent::Type TCustomWinSocket::LookupEventType() {
  static const QEvent::Type type = RegisterEventType();
  return type;
}

bool TCustomWinSocket::StreamSending() const {
  for (const Segment &segment : queue_)
    if (segment.stream)
      return true;
  return false;
}

// ---- events ----

void TCustomWinSocket::Raise(TSocketNotifyEvent TSocketEvents::*event) {
  if (events_ == nullptr || !(events_->*event))
    return;
  // A copy: the handler may assign the event anew while it runs.
  const TSocketNotifyEvent handler = events_->*event;
  handler(*this);
}

int TCustomWinSocket::RaiseError(TErrorEvent kind, int code) {
  if (events_ != nullptr && events_->OnError) {
    const TSocketErrorEvent handler = events_->OnError;
    handler(*this, kind, code);
  }
  return code;
}

// Reports from the event loop arrive here. Nothing may leave towards Qt: what
// is raised goes to the owner's exception handler.
void TCustomWinSocket::Dispatch(QEvent &event) noexcept {
  try {
    if (event.type() == SocketEventType())
      OnSocketNote(static_cast<TPayloadEvent<SocketNote> &>(event).payload());
    else if (event.type() == LookupEventType())
      OnLookupNote(static_cast<TPayloadEvent<LookupNote> &>(event).payload());
  } catch (...) {
    HandleEscaped(std::current_exception());
  }
}

void TCustomWinSocket::HandleEscaped(std::exception_ptr error) noexcept {
  if (exceptionHandler_) {
    try {
      exceptionHandler_(error);
    } catch (...) {
      // The handler broke its promise; the error has nowhere left to go.
    }
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const EAbort &) {
  } catch (const std::exception &e) {
    qWarning("TCP client: %s", e.what());
  } catch (...) {
    qWarning("TCP client: unknown error");
  }
}

// ---- connecting ----

void TCustomWinSocket::OpenConnection(const QString &host, const QString &address,
                                      const QString &service, quint16 port) {
  if (connected_)
    throw ESocketError(QStringLiteral("Socket already open"));
  // An attempt still under way would otherwise go on beside the new one,
  // and its outcome could be taken for the new one's.
  CloseAttempt(attempt_);

  const quint64 attempt = ++lastAttempt_;
  int error = 0;
  auto socket = CreateTcpSocket(
      [this, attempt](TcpEvent event, int code) {
        window_.Post(
            new TPayloadEvent<SocketNote>(SocketEventType(), SocketNote{attempt, event, code}));
      },
      error);
  if (!socket)
    throw ESocketError(QStringLiteral("Can't create new socket"));
  socket_ = std::move(socket);
  attempt_ = attempt;
  sendFailed_ = false;
  lookupState_ = TLookupState::lsLookupAddress;
  service_ = service;
  port_ = port;

  try {
    Raise(&TSocketEvents::OnLookup);
    if (attempt_ != attempt)
      return; // the handler abandoned it
    if (!host.isEmpty()) {
      StartLookup(false, host);
      return;
    }
    if (address.isEmpty()) {
      const int code = RaiseError(TErrorEvent::eeLookup, kNoAddressCode);
      CloseAttempt(attempt);
      if (code != 0)
        throw ESocketError(QStringLiteral("No address specified"));
      return;
    }
    // As the platform's own conversion does, text that is no address gives
    // the broadcast address, to which a connect is refused.
    address_ = 0xFFFFFFFFu;
    ParseDottedAddress(address, address_);
    ContinueAfterAddress(attempt);
  } catch (...) {
    CloseAttempt(attempt);
    throw;
  }
}

void TCustomWinSocket::StartLookup(bool service, const QString &name) {
  const quint64 token = ++lastLookupToken_;
  lookupToken_ = token;
  lookupState_ = service ? TLookupState::lsLookupService : TLookupState::lsLookupAddress;
  // The resolver never calls back once Cancel has returned, and the
  // destructor cancels, so the window outlives every report.
  HostResolver::Done done = [window = &window_, token](const HostResolver::Result &result) {
    window->Post(new TPayloadEvent<LookupNote>(LookupEventType(), LookupNote{token, result}));
  };
  lookup_ = service ? resolver_->LookupService(name, std::move(done))
                    : resolver_->LookupHost(name, std::move(done));
}

void TCustomWinSocket::ContinueAfterAddress(quint64 attempt) {
  if (!service_.isEmpty()) {
    StartLookup(true, service_);
    return;
  }
  lookupState_ = TLookupState::lsLookupService;
  ConnectNow(attempt);
}

void TCustomWinSocket::ConnectNow(quint64 attempt) {
  lookupState_ = TLookupState::lsIdle;
  Raise(&TSocketEvents::OnConnecting);
  if (attempt_ != attempt)
    return;
  const int error = socket_->Connect(address_, port_);
  if (error != 0)
    throw ESocketError::ApiError(error, QStringLiteral("connect"));
}

void TCustomWinSocket::OnLookupNote(const LookupNote &note) {
  if (lookupToken_ == 0 || note.token != lookupToken_)
    return;
  lookupToken_ = 0;
  lookup_ = 0;
  const quint64 attempt = attempt_;
  if (note.result.error != 0) {
    const int code = RaiseError(TErrorEvent::eeLookup, note.result.error);
    CloseAttempt(attempt);
    if (code != 0)
      throw ESocketError::ApiError(code, QStringLiteral("ASync Lookup"));
    return;
  }
  try {
    if (lookupState_ == TLookupState::lsLookupAddress) {
      address_ = note.result.address;
      ContinueAfterAddress(attempt);
    } else if (lookupState_ == TLookupState::lsLookupService) {
      port_ = note.result.port;
      service_.clear();
      ConnectNow(attempt);
    }
  } catch (...) {
    CloseAttempt(attempt);
    throw;
  }
}

void TCustomWinSocket::OnSocketNote(const SocketNote &note) {
  if (attempt_ == 0 || note.attempt != attempt_)
    return;
  const quint64 attempt = attempt_;
  switch (note.event) {
  case TcpEvent::Connected: {
    if (note.error != 0) {
      // The failed attempt's socket is of no further use: closed at once,
      // without OnDisconnect, since it never was connected.
      std::unique_ptr<TcpSocket> failed = std::move(socket_);
      attempt_ = 0;
      lookupState_ = TLookupState::lsIdle;
      address_ = 0;
      port_ = 0;
      failed->Close();
      const int code = RaiseError(TErrorEvent::eeConnect, note.error);
      if (code != 0)
        throw ESocketError::AsyncError(code);
      return;
    }
    connected_ = true;
    Raise(&TSocketEvents::OnConnect);
    return;
  }
  case TcpEvent::Writable:
    if (!ContinueStreamSend() && attempt_ == attempt && connected_)
      Raise(&TSocketEvents::OnWrite);
    return;
  case TcpEvent::Readable:
    Raise(&TSocketEvents::OnRead);
    return;
  case TcpEvent::PeerClosed:
    if (note.error != 0) {
      // A broken connection counts as open until a send on it fails.
      const int code = RaiseError(TErrorEvent::eeDisconnect, note.error);
      if (code != 0)
        throw ESocketError::AsyncError(code);
      return;
    }
    CloseAttempt(attempt);
    return;
  }
}

// ---- closing ----

void TCustomWinSocket::CloseConnection() { CloseAttempt(attempt_); }

void TCustomWinSocket::CloseAttempt(quint64 attempt) {
  if (attempt == 0 || attempt != attempt_)
    return;
  if (lookupToken_ != 0) {
    resolver_->Cancel(lookup_);
    lookupToken_ = 0;
    lookup_ = 0;
  }
  // Everything is taken off the object before the event, so that a handler
  // that opens again starts from a clean state.
  std::unique_ptr<TcpSocket> socket = std::move(socket_);
  std::deque<Segment> queue = std::move(queue_);
  queue_.clear();
  const bool wasConnected = connected_;
  attempt_ = 0;
  connected_ = false;
  sendFailed_ = false;
  lookupState_ = TLookupState::lsIdle;
  address_ = 0;
  port_ = 0;
  service_.clear();
  piece_.clear();
  pieceSent_ = 0;

  Raise(&TSocketEvents::OnDisconnect);

  int error = 0;
  const Segment *droppedStream = nullptr;
  if (wasConnected) {
    // The printer still gets what was accepted before a stream; the stream
    // and what was queued behind it belong to a transfer that is abandoned.
    QByteArray unsent;
    for (Segment &segment : queue) {
      if (segment.stream)
        break;
      unsent.append(segment.bytes.constData() + segment.offset,
                    segment.bytes.size() - segment.offset);
    }
    socket->CloseOrderly(std::move(unsent), kCloseBoundMs);
  } else {
    error = socket->Close();
  }
  for (Segment &segment : queue)
    if (segment.stream) {
      segment.stream.reset();
      droppedStream = &segment;
    }
  if (droppedStream != nullptr)
    emit StreamFinished(false, droppedStream->sent, droppedStream->total);
  if (error != 0)
    throw ESocketError::ApiError(error, QStringLiteral("closesocket"));
}

// ---- sending ----

int TCustomWinSocket::SendBytes(const void *buffer, int count) {
  if (!connected_ || sendFailed_ || buffer == nullptr || count <= 0)
    return 0;
  const char *data = static_cast<const char *>(buffer);
  if (!queue_.empty()) {
    Enqueue(data, count);
    return count;
  }
  const quint64 attempt = attempt_;
  qint64 sent = 0;
  while (sent < count) {
    int error = 0;
    const qint64 n = socket_->Send(data + sent, count - sent, error);
    if (n < 0) {
      FailSend(attempt, error, false);
      return -1;
    }
    if (n == 0)
      break; // full: the rest waits for room
    sent += n;
  }
  if (sent < count)
    Enqueue(data + sent, count - sent);
  return count;
}

int TCustomWinSocket::SendString(const QByteArray &text) {
  return SendBytes(text.constData(), int(text.size()));
}

void TCustomWinSocket::Enqueue(const char *data, qsizetype size) {
  if (!queue_.empty() && !queue_.back().stream) {
    Segment &last = queue_.back();
    if (last.offset > last.bytes.size() / 2) {
      last.bytes.remove(0, last.offset);
      last.offset = 0;
    }
    last.bytes.append(data, size);
    return;
  }
  Segment segment;
  segment.bytes = QByteArray(data, size);
  queue_.push_back(std::move(segment));
}

bool TCustomWinSocket::BeginStreamSend(std::unique_ptr<QIODevice> &&stream) {
  if (!stream || !connected_ || sendFailed_ || StreamSending())
    return false;
  Segment segment;
  segment.total = stream->isSequential() ? -1 : stream->size() - stream->pos();
  segment.stream = std::move(stream);
  queue_.push_back(std::move(segment));
  if (queue_.size() == 1)
    Flush();
  // Otherwise it waits behind bytes that wait for room themselves.
  return true;
}

bool TCustomWinSocket::ContinueStreamSend() {
  if (!connected_ || !socket_ || queue_.empty())
    return false;
  Flush();
  return true;
}

void TCustomWinSocket::Flush() {
  // A handler run from here (progress, error) may send or flush again:
  // the outer run goes on with whatever was queued meanwhile.
  if (flushing_)
    return;
  FlagGuard guard(flushing_);
  const quint64 attempt = attempt_;
  while (attempt_ == attempt && connected_ && !sendFailed_ && !queue_.empty()) {
    Segment &front = queue_.front();
    if (front.stream) {
      if (!SendStream(attempt))
        return;
      continue;
    }
    int error = 0;
    const qint64 n = socket_->Send(front.bytes.constData() + front.offset,
                                   front.bytes.size() - front.offset, error);
    if (n < 0) {
      FailSend(attempt, error, false);
      return;
    }
    if (n == 0)
      return; // full: Writable follows
    front.offset += n;
    if (front.offset == front.bytes.size())
      queue_.pop_front();
  }
}

// Sends the stream at the front of the queue until it ends (true) or the
// socket is full or the attempt is over (false).
bool TCustomWinSocket::SendStream(quint64 attempt) {
  for (;;) {
    Segment &front = queue_.front();
    if (pieceSent_ == piece_.size()) {
      piece_.resize(kPieceSize);
      const qint64 n = front.stream->read(piece_.data(), kPieceSize);
      if (n <= 0) {
        piece_.clear();
        pieceSent_ = 0;
        EndStream(n == 0);
        return attempt_ == attempt;
      }
      piece_.resize(n);
      pieceSent_ = 0;
    }
    int error = 0;
    const qint64 n =
        socket_->Send(piece_.constData() + pieceSent_, piece_.size() - pieceSent_, error);
    if (n < 0) {
      FailSend(attempt, error, true);
      return false;
    }
    if (n == 0)
      return false; // full: the rest of the piece goes when there is room
    pieceSent_ += n;
    front.sent += n;
    const bool last = pieceSent_ == piece_.size() && front.stream->atEnd();
    emit StreamProgress(front.sent, front.total);
    if (attempt_ != attempt || !connected_ || sendFailed_)
      return false;
    if (last) {
      piece_.clear();
      pieceSent_ = 0;
      EndStream(true);
      return attempt_ == attempt;
    }
  }
}

void TCustomWinSocket::EndStream(bool complete) {
  Segment finished = std::move(queue_.front());
  queue_.pop_front();
  finished.stream.reset();
  emit StreamFinished(complete, finished.sent, finished.total);
}

void TCustomWinSocket::FailSend(quint64 attempt, int error, bool stream) {
  // Nothing more is sent on this connection, also not from handlers that
  // run while the error is being reported.
  sendFailed_ = true;
  const int code = RaiseError(TErrorEvent::eeSend, error);
  CloseAttempt(attempt);
  if (stream)
    throw EAbort();
  if (code != 0)
    throw ESocketError::ApiError(code, QStringLiteral("send"));
}

} // namespace pellicar
