#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QAbstractButton;
class QLabel;
class QTimer;

namespace Ui {
class TForm1;
}

namespace pellicar {

class FileDialogs;
class MessageBoxes;

// What the window needs from outside. The defaults are the real machine;
// tests replace what they must answer or observe.
struct FormServices {
  MessageBoxes *boxes = nullptr;     // required
  FileDialogs *fileDialogs = nullptr; // required
  std::function<QStringList()> listPrinters;
  QString sysfsRoot = QStringLiteral("/sys");
  std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
};

// The main window: every control, every event handler. Handlers read the
// controls and call the layers below; each runs inside the error guard, so
// an exception ends the handler and is shown by the top-level handler.
// Main thread only.
class TForm1 : public QWidget {
  Q_OBJECT
public:
  explicit TForm1(FormServices services, QWidget *parent = nullptr);
  ~TForm1() override;

  // Panel 0 of the status bar.
  QString StatusText() const;
  void SetStatusText(const QString &text);

  // The clock's text for a moment: "yyyy-mm-dd hh:mm:ss".
  static QString ClockText(const QDateTime &moment);

  static constexpr int kLogoCapacity = 65539;

private:
  void FormCreate();
  void FormDestroy();
  void pgcFunctionChange();
  void tmr1Timer();

  // Connects a button's click to a handler that runs inside the guard.
  void Bind(QAbstractButton *button, void (TForm1::*handler)());
  void RunGuarded(void (TForm1::*handler)());

  std::unique_ptr<Ui::TForm1> ui;
  FormServices services_;
  QLabel *statusPanel_ = nullptr;
  QTimer *tmr1 = nullptr;

  // Logo storage and firmware state.
  QStringList logoFiles_;
  QByteArray logoData_;
  QByteArray firmwareImage_;
};

} // namespace pellicar
