#pragma once

#include "commands/status_answers.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

namespace pellicar {

// The bounds of a network scan. Each has its reason beside its default.
struct ScanLimits {
  // Connections under way at once. A /24 then goes out in one wave, so
  // the addresses that never answer cost one connect limit together, not
  // each; it stays well within the descriptors a process may hold (two per
  // connection).
  int parallel = 256;
  // A printer on the local network accepts within milliseconds; an
  // address that has not after this long is taken as nobody there.
  int connectMs = 1000;
  // How long each answer to DLE EOT n may take. A printer answers its
  // real-time requests at once, even while busy.
  int answerMs = 500;
  // Bytes a connection may send unasked before an answer; past them it is
  // streaming something else, not answering.
  int answerBytes = 4096;
  // The whole scan. The largest range (4096 addresses, 16 waves of silent
  // addresses) fits; past it the scan stops and says how much it left.
  int wholeMs = 30000;
};

// An address whose port accepted a connection.
struct NetworkFinding {
  quint32 address = 0; // host byte order
  quint16 port = 0;
  // It answered DLE EOT 1 with an answer's fixed bits: a printer.
  bool printer = false;
  // All four answers came: the printer's status.
  std::optional<ReportedStatus> status;
  // Why there is no status, or what else was odd; empty for a printer
  // with its status.
  QString note;
};

// How a scan ended.
struct ScanSummary {
  int total = 0;    // addresses asked to scan
  int finished = 0; // addresses whose probe ended (answered, refused, silent)
  int accepted = 0; // of them, connections accepted
  int printers = 0; // of them, printers
  bool cancelled = false;
  bool limitReached = false; // the whole-scan limit ran out first
  qint64 elapsedMs = 0;
};

// Finds printers among `addresses` at `port`: connects to up to
// `parallel` of them at once, and where a connection is accepted asks DLE
// EOT 1 to 4, each bounded. An address counts as a printer only when its
// first answer has the fixed bits every answer has. Addresses that refuse,
// never answer or fail are not reported.
//
// Runs on the event loop of the thread that made it (the window's main
// thread, or a loop the command-line tool runs); no call waits for the
// network. Start once; Finished is raised exactly once, from the event
// loop, after which the object may be destroyed.
class TNetworkScan : public QObject {
  Q_OBJECT
public:
  TNetworkScan(std::vector<quint32> addresses, quint16 port, ScanLimits limits = {},
               QObject *parent = nullptr);
  ~TNetworkScan() override;

  void Start();
  // Ends the scan: nothing new starts, connections under way are closed,
  // Finished follows with `cancelled`.
  void Cancel();
  bool Running() const { return running_; }

  // What was found so far, in the order the addresses were given.
  std::vector<NetworkFinding> Findings() const;
  const ScanLimits &Limits() const { return limits_; }

signals:
  // An address's probe ended: `done` of `total`.
  void Progress(int done, int total);
  void Found(const pellicar::NetworkFinding &finding);
  void Finished(const pellicar::ScanSummary &summary);

private:
  struct Probe;

  void StartMore();
  void OnEvent(Probe &probe, int event, int error);
  void OnAnswerBytes(Probe &probe);
  void Ask(Probe &probe);
  void EndProbe(Probe &probe, bool accepted, const QString &note);
  void Stop(bool cancelled);

  std::vector<quint32> addresses_;
  quint16 port_;
  ScanLimits limits_;
  size_t next_ = 0;
  std::vector<std::unique_ptr<Probe>> probes_; // under way
  std::vector<std::optional<NetworkFinding>> found_;
  ScanSummary summary_;
  bool running_ = false;
  bool ended_ = false;
  QTimer wholeTimer_;
  QElapsedTimer clock_;
};

} // namespace pellicar
