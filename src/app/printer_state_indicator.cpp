#include "app/printer_state_indicator.h"

#include "discovery/status_text.h"

namespace pellicar {

TPrinterStateIndicator::TPrinterStateIndicator(QWidget *parent)
    : QLabel(parent), ask_(kAnswerMs, this) {
  setObjectName(QStringLiteral("lblPrinterState"));
  connect(&ask_, &TStatusAsk::Answered, this, [this](const StatusReading &reading) {
    Finish({true, StatusLines(reading.status)}, StateText(reading.status));
  });
  connect(&ask_, &TStatusAsk::Failed, this, [this](const QString &message) {
    Finish({false, message}, QLatin1String(kNoAnswerText));
  });
}

void TPrinterStateIndicator::ShowPrintQueue() {
  Abandon();
  setText(QStringLiteral("No status through a print queue"));
  setToolTip({});
  hasState_ = false;
}

void TPrinterStateIndicator::ShowNotConnected() {
  Abandon();
  setText(QStringLiteral("Not connected"));
  setToolTip({});
  hasState_ = false;
}

void TPrinterStateIndicator::Ask(TStatusAsk::Send send, Done done) {
  if (ask_.Running()) {
    again_ = std::move(send);
    if (done)
      waitingAgain_.push_back(std::move(done));
    return;
  }
  if (done)
    waiting_.push_back(std::move(done));
  // The last state stays while the printer is asked again (its answer
  // takes milliseconds); there is none right after a port opened.
  if (!hasState_)
    setText(QStringLiteral("Asking..."));
  ask_.Start(std::move(send));
}

void TPrinterStateIndicator::Abandon(const QString &why) {
  ask_.Abandon();
  again_ = nullptr;
  // Whoever waits hears that the question ended unanswered.
  std::vector<Done> waiting;
  waiting.swap(waiting_);
  for (Done &done : waitingAgain_)
    waiting.push_back(std::move(done));
  waitingAgain_.clear();
  for (const Done &done : waiting)
    done({false, why});
}

void TPrinterStateIndicator::Finish(const Outcome &outcome, const QString &state) {
  setText(state);
  setToolTip(outcome.text.trimmed());
  hasState_ = true;
  std::vector<Done> waiting;
  waiting.swap(waiting_);
  if (again_) {
    TStatusAsk::Send send = std::move(again_);
    again_ = nullptr;
    waiting_.swap(waitingAgain_);
    ask_.Start(std::move(send));
  }
  for (const Done &done : waiting)
    done(outcome);
}

} // namespace pellicar
