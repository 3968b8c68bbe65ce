#include "channels/custom_win_socket.h"

#include "channels/closing_connection.h"
#include "channels/socket_error.h"

#include <QtDebug>

#include <algorithm>
#include <cerrno>

namespace pellicar {

namespace {

constexpr qint64 kPieceSize = 4096;
// The code OnError receives when there is neither a host nor an address.
constexpr int kNoAddressCode = 1110;
// Reads per Receive call, of up to 4 KiB each: a printer that keeps
// talking cannot hold the caller; what is left is read at the next call.
constexpr int kReceiveReads = 16;

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
      watch_([this] { LookAtDelivery(true); }, this),
      closeStallLimitMs_(TClosingConnection::kStallLimitMs),
      window_([this](QEvent &event) { Dispatch(event); }) {
  connectTimer_.setSingleShot(true);
  connect(&connectTimer_, &QTimer::timeout, this, [this] { OnConnectTimeout(); });
  progressTimer_.setSingleShot(true);
  connect(&progressTimer_, &QTimer::timeout, this, [this] {
    try {
      ReadProgress();
    } catch (...) {
      HandleEscaped(std::current_exception());
    }
  });
}

TCustomWinSocket::~TCustomWinSocket() {
  events_ = nullptr;
  destroying_ = true;
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
  if (sentStream_)
    return true;
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
  int error = 0;
  lookup_ = service ? resolver_->LookupService(name, std::move(done), error)
                    : resolver_->LookupHost(name, std::move(done), error);
  if (lookup_ == 0) {
    // Nothing was started, so nothing is left to cancel.
    lookupToken_ = 0;
    throw ESocketError::ApiError(error, service ? QStringLiteral("WSAASyncGetServByName")
                                                : QStringLiteral("WSAASyncGetHostByName"));
  }
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
  connectTimer_.start(connectTimeoutMs_);
}

// A connect that the kernel would go on retrying for minutes ends as one
// that timed out.
void TCustomWinSocket::OnConnectTimeout() {
  if (attempt_ == 0 || connected_ || !socket_)
    return;
  try {
    OnSocketNote(SocketNote{attempt_, TcpEvent::Connected, ETIMEDOUT});
  } catch (...) {
    HandleEscaped(std::current_exception());
  }
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
    connectTimer_.stop();
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
    handed_ = 0;
    acknowledged_ = 0;
    countCurrent_ = true;
    peerClosed_ = false;
    drainedReported_ = true;
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
    // A printer may end its side and go on reading: a stream outstanding
    // goes on while it acknowledges (ReadProgress bounds the wait), and the
    // connection is closed once it has everything.
    if (StreamSending()) {
      peerClosed_ = true;
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
  connectTimer_.stop();
  watch_.Stop();
  progressTimer_.stop();
  if (connected_)
    ReadAcknowledged(); // the latest count for what is reported below
  // Everything is taken off the object before the event, so that a handler
  // that opens again starts from a clean state.
  std::unique_ptr<TcpSocket> socket = std::move(socket_);
  std::deque<Segment> queue = std::move(queue_);
  queue_.clear();
  std::optional<SentStream> sent = sentStream_;
  sentStream_.reset();
  const bool wasConnected = connected_;
  attempt_ = 0;
  connected_ = false;
  sendFailed_ = false;
  peerClosed_ = false;
  lookupState_ = TLookupState::lsIdle;
  address_ = 0;
  port_ = 0;
  service_.clear();
  held_ = 0;
  drainedReported_ = true;

  Raise(&TSocketEvents::OnDisconnect);

  if (wasConnected) {
    CloseConnected(std::move(socket), std::move(queue), sent);
    return;
  }
  const int error = socket ? socket->Close() : 0;
  if (error != 0)
    throw ESocketError::ApiError(error, QStringLiteral("closesocket"));
}

void TCustomWinSocket::CloseConnected(std::unique_ptr<TcpSocket> socket, std::deque<Segment> queue,
                                      std::optional<SentStream> sent) {
  // The printer still gets what was accepted before a stream; the stream
  // being sent is abandoned, and what was queued behind it belongs to a
  // transfer that is cut short: it is dropped and counted as undelivered.
  QByteArray unsent;
  qint64 dropped = 0;
  const Segment *stream = nullptr;
  for (Segment &segment : queue) {
    if (segment.stream) {
      stream = &segment;
      continue;
    }
    const qsizetype left = segment.bytes.size() - segment.offset;
    if (stream != nullptr)
      dropped += left;
    else
      unsent.append(segment.bytes.constData() + segment.offset, left);
  }
  // The stream whose bytes the socket holds, if any. It is ended here with
  // the count read just now, and the connection is reset rather than left
  // to hand the printer more of it behind that count: a transfer reported
  // as stopped must not go on in the background.
  std::optional<SentStream> streamed = sent;
  if (stream != nullptr && stream->start >= 0)
    streamed = SentStream{stream->start, stream->sent, stream->total};
  const qint64 handed = handed_;
  const qint64 acknowledged = acknowledged_;
  piece_.clear();
  pieceSent_ = 0;
  // A stream sent whole whose last acknowledgement the watch had not yet
  // seen is delivered: nothing of it is left to stop.
  const qint64 have = streamed ? AcknowledgedOf(streamed->start, streamed->sent) : 0;
  const bool delivered = sent.has_value() && have == sent->sent;
  const bool abandon = streamed.has_value() && !delivered;
  TClosingConnection *close = TClosingConnection::Start(
      std::move(socket), std::move(unsent), handed, acknowledged, closeStallLimitMs_, abandon);
  const qint64 streamMissing = streamed ? streamed->sent - have : 0;
  if (streamed)
    emit StreamFinished(delivered, have, streamed->total, countCurrent_);
  else if (stream != nullptr)
    emit StreamFinished(false, 0, stream->total, true); // nothing of it went out
  if (destroying_)
    return; // nobody is left to hear how the close ends
  ++closesPending_;
  // What of the stream did not arrive was told by its StreamFinished.
  connect(close, &TClosingConnection::Finished, this,
          [this, streamMissing, dropped](qint64 undelivered, qint64, bool broken) {
            --closesPending_;
            emit CloseFinished(std::max<qint64>(undelivered - streamMissing, 0) + dropped, broken);
          });
}

qint64 TCustomWinSocket::AcknowledgedOf(qint64 start, qint64 sent) const {
  if (start < 0)
    return 0;
  return std::clamp<qint64>(acknowledged_ - start, 0, sent);
}

// ---- sending ----

int TCustomWinSocket::SendBytes(const void *buffer, int count) {
  if (!connected_ || sendFailed_ || buffer == nullptr || count <= 0)
    return 0;
  // Checked before anything goes out, so that a refused call took nothing.
  if (count > kHeldLimit - held_)
    return -1;
  const char *data = static_cast<const char *>(buffer);
  drainedReported_ = false;
  if (!queue_.empty()) {
    Enqueue(data, count);
    return count;
  }
  const quint64 attempt = attempt_;
  qint64 sent = 0;
  while (sent < count) {
    int error = 0;
    const qint64 n = Hand(data + sent, count - sent, error);
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
  else
    ExpectAcknowledgement();
  return count;
}

int TCustomWinSocket::SendString(const QByteArray &text) {
  return SendBytes(text.constData(), int(text.size()));
}

void TCustomWinSocket::Enqueue(const char *data, qsizetype size) {
  held_ += size;
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

qint64 TCustomWinSocket::Hand(const char *data, qint64 size, int &error) {
  const qint64 n = socket_->Send(data, size, error);
  if (n > 0)
    handed_ += n;
  return n;
}

bool TCustomWinSocket::BeginStreamSend(std::unique_ptr<QIODevice> &&stream) {
  if (!stream || !connected_ || sendFailed_ || StreamSending())
    return false;
  Segment segment;
  segment.total = stream->isSequential() ? -1 : stream->size() - stream->pos();
  segment.stream = std::move(stream);
  queue_.push_back(std::move(segment));
  drainedReported_ = false;
  progressReported_ = -1;
  progressCount_ = acknowledged_;
  progressStill_.start();
  progressTimer_.start(kProgressReadingMs);
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
  {
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
      const qint64 n =
          Hand(front.bytes.constData() + front.offset, front.bytes.size() - front.offset, error);
      if (n < 0) {
        FailSend(attempt, error, false);
        return;
      }
      if (n == 0)
        return; // full: Writable follows
      front.offset += n;
      held_ -= n;
      if (front.offset == front.bytes.size())
        queue_.pop_front();
    }
  }
  if (queue_.empty())
    ExpectAcknowledgement();
}

// Sends the stream at the front of the queue until it ends (true) or the
// socket is full or the attempt is over (false).
bool TCustomWinSocket::SendStream(quint64 attempt) {
  for (;;) {
    Segment &front = queue_.front();
    if (front.start < 0)
      front.start = handed_;
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
    const qint64 n = Hand(piece_.constData() + pieceSent_, piece_.size() - pieceSent_, error);
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

// The stream at the front has been read to its end (`read`) or could not
// be read: in the first case it is delivered once the printer acknowledged
// its last byte, in the second it has failed (what went before it may
// still be delivered).
void TCustomWinSocket::EndStream(bool read) {
  Segment finished = std::move(queue_.front());
  queue_.pop_front();
  finished.stream.reset();
  if (read) {
    sentStream_ = SentStream{finished.start, finished.sent, finished.total};
    return; // reported by LookAtDelivery
  }
  emit StreamFinished(false, AcknowledgedOf(finished.start, finished.sent), finished.total,
                      countCurrent_);
}

qint64 TCustomWinSocket::Acknowledged() {
  if (!connected_)
    return 0;
  ReadAcknowledged();
  return acknowledged_;
}

bool TCustomWinSocket::ReadAcknowledged() {
  if (!connected_ || !socket_)
    return false;
  int error = 0;
  const qint64 outstanding = socket_->Unacknowledged(error);
  // A broken connection's count still tells how far the printer got, unless
  // it reads 0, which would claim everything: then the last count stands.
  countCurrent_ = outstanding > 0 || (outstanding == 0 && error == 0);
  if (countCurrent_)
    acknowledged_ = handed_ - outstanding;
  return outstanding >= 0 && error == 0;
}

// Everything accepted has been handed to the socket: the printer's
// acknowledgement is looked for from the event loop (so that StreamFinished
// and Drained are never raised inside the call that sent).
void TCustomWinSocket::ExpectAcknowledgement() {
  if (!watch_.Active())
    watch_.Start();
}

// Reports a stream or everything as delivered when the printer's side has
// acknowledged it, and keeps looking (TAckWatch) while something is
// outstanding and no Writable from a full socket will bring the next look.
void TCustomWinSocket::LookAtDelivery(bool fromWatch) {
  const quint64 attempt = attempt_;
  if (!ReadAcknowledged()) {
    // The close that follows a broken connection reports what is missing;
    // after the printer's own close no notification brings it.
    watch_.Stop();
    if (peerClosed_)
      CloseAttempt(attempt);
    return;
  }
  if (sentStream_ && acknowledged_ >= sentStream_->start + sentStream_->sent) {
    const SentStream done = *sentStream_;
    sentStream_.reset();
    progressTimer_.stop();
    emit StreamFinished(true, done.sent, done.total, true);
    if (attempt_ != attempt || !connected_)
      return;
    if (peerClosed_) {
      CloseAttempt(attempt);
      return;
    }
  }
  if (!queue_.empty())
    return; // Writable brings the next look
  if (acknowledged_ == handed_) {
    watch_.Stop();
    if (!drainedReported_) {
      drainedReported_ = true;
      emit Drained();
    }
    return;
  }
  if (fromWatch)
    watch_.Again();
  else if (!watch_.Active())
    watch_.Start();
}

std::optional<TCustomWinSocket::SentStream> TCustomWinSocket::OutstandingStream() const {
  if (sentStream_)
    return sentStream_;
  for (const Segment &segment : queue_)
    if (segment.stream)
      return SentStream{segment.start, segment.sent, segment.total};
  return std::nullopt;
}

// Reads how far the printer's side has acknowledged an outstanding stream,
// reports it when it moved, and gives the stream up when the printer took
// nothing for the stall limit.
void TCustomWinSocket::ReadProgress() {
  const std::optional<SentStream> stream = OutstandingStream();
  if (!connected_ || !stream)
    return;
  const quint64 attempt = attempt_;
  if (!ReadAcknowledged() && peerClosed_) {
    CloseAttempt(attempt); // broken after the printer's own close
    return;
  }
  if (acknowledged_ != progressCount_) {
    progressCount_ = acknowledged_;
    progressStill_.start();
  }
  const qint64 have = AcknowledgedOf(stream->start, stream->sent);
  if (have != progressReported_) {
    progressReported_ = have;
    emit StreamAcknowledged(have, stream->total);
    if (attempt_ != attempt || !connected_)
      return;
  }
  if (streamStallLimitMs_ > 0 && progressStill_.elapsed() >= streamStallLimitMs_) {
    emit StreamStalled(have, stream->total, int(progressStill_.elapsed()));
    if (attempt_ == attempt)
      CloseAttempt(attempt);
    return;
  }
  progressTimer_.start(kProgressReadingMs);
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

TcpInput TCustomWinSocket::Receive(QByteArray &into) {
  if (!socket_ || !connected_)
    return TcpInput::Broken;
  TcpInput input = TcpInput::Open;
  char buffer[4096];
  // Bounded per call: a printer that keeps talking is read again at its
  // next report, and the caller (the window) stays responsive meanwhile.
  for (int i = 0; i < kReceiveReads; ++i) {
    int error = 0;
    const qint64 count = socket_->Receive(buffer, sizeof buffer, input, error);
    into.append(buffer, count);
    if (count == 0 || input != TcpInput::Open)
      break;
  }
  return input;
}

qsizetype TCustomWinSocket::ReceiveBytes(QByteArray &into) {
  const qsizetype before = into.size();
  Receive(into);
  return into.size() - before;
}

} // namespace pellicar
