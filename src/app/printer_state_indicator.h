#pragma once

#include "channels/status_ask.h"

#include <QLabel>
#include <QString>

#include <functional>
#include <vector>

namespace pellicar {

// The printer's state at the right of the status bar: "Ready", "Paper
// low", "Paper out", "Cover open", "Offline", "Error: NAME" or "No
// answer"; "No status through a print queue" for the spooler, "Not
// connected" while the chosen port is closed.
//
// It asks only when told to (Ask): once after a port opens or a
// connection stands, once after an action. Nothing is polled: between
// questions no timer runs. The bytes the printer sends reach it through
// Take. Main thread.
class TPrinterStateIndicator : public QLabel {
  Q_OBJECT
public:
  // How long each answer may take: a printer answers its real-time
  // requests at once, even while busy; over a slow serial line four bytes
  // each way take milliseconds.
  static constexpr int kAnswerMs = 1000;

  // What an ask ended with: the status's lines as `pellicar-cli status`
  // prints them, or why there is none.
  struct Outcome {
    bool answered = false;
    QString text;
  };
  using Done = std::function<void(const Outcome &outcome)>;

  explicit TPrinterStateIndicator(QWidget *parent = nullptr);

  void ShowPrintQueue();
  void ShowNotConnected();

  // Asks now over `send`, then calls `done` (if given) with the outcome.
  // While a question is under way, a new one follows it (answers still
  // on their way would be taken for the new question's).
  void Ask(TStatusAsk::Send send, Done done = {});
  // The printer's bytes.
  void Take(const QByteArray &bytes) { ask_.Take(bytes); }
  // The port closed, or a transfer began: a question under way ends
  // without an outcome, and whoever waits for it hears `why`.
  void
  Abandon(const QString &why = QStringLiteral("the port was closed before the printer answered"));
  bool Asking() const { return ask_.Running(); }

private:
  void Finish(const Outcome &outcome, const QString &state);

  TStatusAsk ask_;
  bool hasState_ = false;          // the text is an answer's (or "No answer")
  TStatusAsk::Send again_;         // the question to ask once the current one ends
  std::vector<Done> waiting_;      // for the question under way
  std::vector<Done> waitingAgain_; // for the one after it
};

} // namespace pellicar
