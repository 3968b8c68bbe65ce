#pragma once

#include "cli/cli_errors.h"
#include "cli/fleet_plan.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>

#include <vector>

class QEventLoop;
class QProcess;

namespace pellicar {

class TInterruptWatch;

// Sets up the printers of a plan in parallel: each printer in a worker
// process of its own (this program, `fleet-worker`), at most
// `plan.parallel` at once, so that one printer's failure, hang or crash
// never touches another's. A worker that outlives its bound (every step's
// timeout, the verification and a margin) is killed and counts as failed.
//
// Ctrl-C (and SIGTERM, SIGHUP) starts no new printer; the running workers
// are told to end the sequence they are sending and stop; their results
// and the printers never started are reported. A second Ctrl-C ends the
// program at once.
//
// Prints the report (a table, or JSON with `plan.json`) on standard output
// and, when a printer did not succeed, "N of M printers failed" on
// standard error. Main thread; runs the event loop until every worker has
// ended.
class TFleetRunner : public QObject {
  Q_OBJECT
public:
  explicit TFleetRunner(const FleetPlan &plan, QObject *parent = nullptr);
  ~TFleetRunner() override;

  // Sent when every printer succeeded, SendFailed otherwise.
  ExitStatus Run();

  // The results, one per printer in the file's order (after Run).
  const std::vector<QJsonObject> &Results() const { return results_; }

private:
  void startNext();
  void onInterrupt();
  void finishWorker(size_t index, QProcess *process, const QString &failure);

  const FleetPlan &plan_;
  std::vector<QJsonObject> results_;
  std::vector<QPointer<QProcess>> running_; // by printer; null when not running
  size_t next_ = 0;
  int active_ = 0;
  int done_ = 0; // workers ended
  bool interrupted_ = false;
  QEventLoop *loop_ = nullptr;
};

// Runs the plan and returns the exit status.
ExitStatus RunFleet(const FleetPlan &plan);

} // namespace pellicar
