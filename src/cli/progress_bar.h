#pragma once

#include <QString>
#include <QtGlobal>

namespace pellicar {

// A progress bar for a long transfer, drawn on standard error when that is
// a terminal (and nothing otherwise), redrawn in place with a carriage
// return:
//   update  [#############                 ]  43%  112640/262150 bytes
// Main thread.
class TProgressBar {
public:
  // `total` bytes are to go under the name `label`. Draws nothing unless
  // `enabled`.
  TProgressBar(QString label, qint64 total, bool enabled);
  // Ends the line when something was drawn.
  ~TProgressBar();
  TProgressBar(const TProgressBar &) = delete;
  TProgressBar &operator=(const TProgressBar &) = delete;

  // `done` bytes are through; redraws when the bar or the percentage moves.
  void Update(qint64 done);
  // Ends the bar's line, so that a message that follows starts on a line
  // of its own.
  void Finish();

  // The text of the bar for `done` of `total` bytes, without the carriage
  // return.
  static QString Render(const QString &label, qint64 done, qint64 total);

private:
  QString label_;
  qint64 total_;
  bool enabled_;
  bool drawn_ = false;
  int lastPermille_ = -1;
};

} // namespace pellicar
