#include "discovery/network_scan.h"

#include "channels/status_answer_reader.h"
#include "platform/tcp_socket.h"

#include <QMetaObject>

#include <array>
#include <cerrno>

namespace pellicar {

namespace {

QString Hex(quint8 byte) {
  return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

struct TNetworkScan::Probe {
  size_t index = 0;
  quint32 address = 0;
  std::unique_ptr<TcpSocket> socket;
  QTimer timer;
  bool connected = false;
  bool done = false;
  int asking = 0; // the n of the DLE EOT n waiting for its answer
  TStatusAnswerReader reader;
  std::array<quint8, kStatusRequestCount> answers{};
};

TNetworkScan::TNetworkScan(std::vector<quint32> addresses, quint16 port, ScanLimits limits,
                           QObject *parent)
    : QObject(parent), addresses_(std::move(addresses)), port_(port), limits_(limits),
      found_(addresses_.size()) {
  summary_.total = int(addresses_.size());
  wholeTimer_.setSingleShot(true);
  connect(&wholeTimer_, &QTimer::timeout, this, [this] {
    summary_.limitReached = true;
    Stop(false);
  });
}

TNetworkScan::~TNetworkScan() = default;

std::vector<NetworkFinding> TNetworkScan::Findings() const {
  std::vector<NetworkFinding> findings;
  for (const auto &finding : found_)
    if (finding)
      findings.push_back(*finding);
  return findings;
}

void TNetworkScan::Start() {
  if (running_ || ended_)
    return;
  running_ = true;
  clock_.start();
  wholeTimer_.start(limits_.wholeMs);
  StartMore();
  // An empty range, or one whose every connect failed at once, still ends
  // from the event loop.
  QMetaObject::invokeMethod(
      this, [this] { StartMore(); }, Qt::QueuedConnection);
}

void TNetworkScan::Cancel() {
  if (running_)
    Stop(true);
}

void TNetworkScan::StartMore() {
  // Probes that ended are released here, outside their sockets' own
  // notifications.
  std::erase_if(probes_, [](const std::unique_ptr<Probe> &probe) { return probe->done; });
  while (!ended_ && next_ < addresses_.size() && int(probes_.size()) < limits_.parallel) {
    auto probe = std::make_unique<Probe>();
    probe->index = next_;
    probe->address = addresses_[next_++];
    Probe *raw = probe.get();
    int error = 0;
    probe->socket = CreateTcpSocket(
        [this, raw](TcpEvent event, int eventError) { OnEvent(*raw, int(event), eventError); },
        error);
    if (probe->socket)
      error = probe->socket->Connect(probe->address, port_);
    if (!probe->socket || error != 0) {
      // Out of descriptors is this computer's trouble, not the address's:
      // the address waits for a probe to end.
      if (error == EMFILE || error == ENFILE) {
        --next_;
        break;
      }
      ++summary_.finished;
      emit Progress(summary_.finished, summary_.total);
      continue;
    }
    probe->timer.setSingleShot(true);
    connect(&probe->timer, &QTimer::timeout, this, [this, raw] {
      if (!raw->connected)
        EndProbe(*raw, false, {});
      else if (raw->asking == 1)
        EndProbe(*raw, true, QStringLiteral("open port, no printer answer"));
      else
        EndProbe(*raw, true,
                 QStringLiteral("no answer to DLE EOT %1 within %2 ms")
                     .arg(raw->asking)
                     .arg(limits_.answerMs));
    });
    probe->timer.start(limits_.connectMs);
    probes_.push_back(std::move(probe));
  }
  if (running_ && probes_.empty() && (ended_ || next_ >= addresses_.size())) {
    running_ = false;
    ended_ = true;
    wholeTimer_.stop();
    summary_.elapsedMs = clock_.elapsed();
    emit Finished(summary_);
  }
}

void TNetworkScan::OnEvent(Probe &probe, int event, int error) {
  if (probe.done)
    return;
  switch (TcpEvent(event)) {
  case TcpEvent::Connected:
    if (error != 0) {
      EndProbe(probe, false, {});
      return;
    }
    probe.connected = true;
    probe.asking = 1;
    Ask(probe);
    return;
  case TcpEvent::Writable:
    return;
  case TcpEvent::Readable:
    OnAnswerBytes(probe);
    return;
  case TcpEvent::PeerClosed:
    OnAnswerBytes(probe); // what it said before it closed
    if (!probe.done)
      EndProbe(probe, true,
               probe.asking == 1 ? QStringLiteral("open port, no printer answer (it closed the "
                                                  "connection)")
                                 : QStringLiteral("it closed the connection before answering "
                                                  "DLE EOT %1")
                                       .arg(probe.asking));
    return;
  }
}

void TNetworkScan::Ask(Probe &probe) {
  probe.reader.Forget();
  const QByteArray request = StatusRequest(probe.asking);
  int error = 0;
  // Three bytes on a connection that has sent nothing else always fit.
  if (probe.socket->Send(request.constData(), request.size(), error) != request.size()) {
    EndProbe(probe, true, QStringLiteral("the connection took no request"));
    return;
  }
  probe.timer.start(limits_.answerMs);
}

void TNetworkScan::OnAnswerBytes(Probe &probe) {
  char buffer[256];
  for (;;) {
    if (probe.done)
      return;
    TcpInput input = TcpInput::Open;
    int error = 0;
    const qint64 count = probe.socket->Receive(buffer, sizeof buffer, input, error);
    for (qint64 i = 0; i < count && !probe.done; ++i) {
      const quint8 byte = quint8(buffer[i]);
      switch (probe.reader.Take(byte)) {
      case TStatusAnswerReader::Verdict::Pending:
        if (probe.reader.SkippedCount() > limits_.answerBytes)
          EndProbe(probe, true,
                   probe.asking == 1
                       ? QStringLiteral("open port, no printer answer (it sends other data)")
                       : QStringLiteral("no answer to DLE EOT %1 among the data it sends")
                             .arg(probe.asking));
        break;
      case TStatusAnswerReader::Verdict::Answer:
        probe.answers[probe.asking - 1] = byte;
        if (probe.asking == kStatusRequestCount) {
          EndProbe(probe, true, {});
        } else {
          ++probe.asking;
          Ask(probe);
        }
        break;
      case TStatusAnswerReader::Verdict::Untrusted:
        EndProbe(
            probe, true,
            probe.asking == 1
                ? QStringLiteral("open port, no printer answer (it answered %1)").arg(Hex(byte))
                : QStringLiteral("the answer to DLE EOT %1 (%2) has wrong fixed bits")
                      .arg(probe.asking)
                      .arg(Hex(byte)));
        break;
      }
    }
    if (count <= 0 || input != TcpInput::Open)
      return;
  }
}

void TNetworkScan::EndProbe(Probe &probe, bool accepted, const QString &note) {
  if (probe.done)
    return;
  probe.done = true;
  probe.timer.stop();
  ++summary_.finished;
  if (accepted) {
    NetworkFinding finding;
    finding.address = probe.address;
    finding.port = port_;
    finding.printer = probe.asking > 1; // DLE EOT 1 was answered
    if (note.isEmpty())
      finding.status = DecodeStatusAnswers(probe.answers);
    finding.note = note;
    ++summary_.accepted;
    if (finding.printer)
      ++summary_.printers;
    found_[probe.index] = finding;
    emit Found(finding);
  }
  emit Progress(summary_.finished, summary_.total);
  // The socket goes once its notification has returned.
  QMetaObject::invokeMethod(
      this, [this] { StartMore(); }, Qt::QueuedConnection);
}

void TNetworkScan::Stop(bool cancelled) {
  if (ended_)
    return;
  ended_ = true;
  summary_.cancelled = cancelled;
  const QString why = cancelled ? QStringLiteral("the scan was cancelled before it answered")
                                : QStringLiteral("the scan's time limit ended before it answered");
  for (const auto &probe : probes_) {
    if (probe->done)
      continue;
    if (probe->connected) {
      EndProbe(*probe, true, why);
    } else {
      probe->done = true;
      probe->timer.stop();
    }
  }
  QMetaObject::invokeMethod(
      this, [this] { StartMore(); }, Qt::QueuedConnection);
}

} // namespace pellicar
