#pragma once

#include <QString>
#include <QtGlobal>

class QProgressBar;
class QStatusBar;

namespace pellicar {

// One of the two long transfers the window hands to the TCP connection.
struct StreamAction {
  QString documentName;         // "LOGO TO NVRAM", "update"
  QString caption;              // of the action's boxes: "Download LOGO", "Update"
  QString noun;                 // as the messages name it: "logo download", "firmware upload"
  bool confirmsWithBox = false; // a delivered transfer is confirmed with an "OK!" box

  static StreamAction LogoDownload();
  static StreamAction FirmwareUpload();
};

// Follows the one stream transfer that may run on the window's TCP
// connection, and shows it as a progress bar in the status bar, beside the
// status panel: the document name and the bytes of the total that the
// printer's side has acknowledged (never what only went into our socket:
// the system takes megabytes the printer may never get). The bar
// is hidden while no transfer runs, so that the panel spans the bar as
// usual. Main thread only.
class TTransferProgress {
public:
  // Adds the (hidden) bar to `statusBar`, right of what is there.
  explicit TTransferProgress(QStatusBar *statusBar);

  bool Running() const { return running_; }
  const StreamAction &Action() const { return action_; }

  // A stream of `total` bytes (-1: unknown) is about to be handed over.
  void Begin(const StreamAction &action, qint64 total);
  // The printer's side has acknowledged `acknowledged` bytes of the stream.
  void Advance(qint64 acknowledged, qint64 total);
  // The printer took nothing for `stalledMs`: the end that follows says so.
  void Stalled(int stalledMs) { stalledMs_ = stalledMs; }
  int StalledMs() const { return stalledMs_; }
  // The transfer is over (or was never taken): the bar goes.
  void End();

  // "The firmware upload is still running (the printer has acknowledged
  // … of … bytes)."
  QString RunningText() const;
  // "The firmware upload stopped after 1,234,567 of 4,194,310 bytes."; "at
  // least" when the count is the last one read before the end (not
  // `exact`); with the stall that ended it when `stalledMs` > 0.
  static QString StoppedText(const StreamAction &action, qint64 acknowledged, qint64 total,
                             bool exact = true, int stalledMs = 0);
  // Counts as the messages show them: 4,194,310.
  static QString Count(qint64 bytes);

private:
  void UpdateBar();
  // "1,234 of 4,194,310", or the part alone when the total is unknown (-1).
  static QString CountOf(qint64 part, qint64 total);

  QProgressBar *bar_;
  bool running_ = false;
  StreamAction action_;
  qint64 acknowledged_ = 0;
  qint64 total_ = -1;
  int stalledMs_ = 0;
};

} // namespace pellicar
