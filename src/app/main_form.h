#pragma once

#include "app/message_box.h"
#include "app/printer_state_indicator.h"
#include "app/transfer_progress.h"
#include "channels/client_socket.h"
#include "channels/comm.h"
#include "channels/dispatch.h"
#include "commands/command_sequence.h"
#include "firmware/firmware_image.h"
#include "logo/logo_set.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QAction;
class QCloseEvent;
class QLabel;
class QTimer;

namespace Ui {
class TForm1;
}

namespace pellicar {

class FileDialogs;
class Spooler;
struct FoundPrinter;

// What the window needs from outside. The defaults are the real machine;
// tests replace what they must answer or observe.
struct FormServices {
  MessageBoxes *boxes = nullptr;      // required
  FileDialogs *fileDialogs = nullptr; // required
  std::function<QStringList()> listPrinters;
  Spooler *spooler = nullptr;             // null: the machine's print server
  std::shared_ptr<HostResolver> resolver; // null: the system's resolver
  TSerialDeviceOpener serialOpener;       // empty: the machine's serial devices
  QString sysfsRoot = QStringLiteral("/sys");
  QString devRoot = QStringLiteral("/dev"); // USB printer devices, the stable names in serial/by-id
  // Ask the printer's state after a port opens and after each action over
  // TCP or serial. Tests of the exact bytes an action sends turn it off.
  bool askPrinterState = true;
  // Added after the machine's ports ("pellicar --serial-port PATH"): a
  // pseudo terminal such as pellicar-printer's, which is no real port.
  QStringList extraSerialPorts;
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

  // The active-channel state.
  bool SerialOpen = false;
  bool TcpConnected = false;

  // Panel 0 of the status bar.
  QString StatusText() const;
  void SetStatusText(const QString &text);

  // The clock's text for a moment: "yyyy-mm-dd hh:mm:ss".
  static QString ClockText(const QDateTime &moment);

  // Printer → "Printer Status" and "Find Printers…", for the menu bar.
  QAction *PrinterStatusAction() const { return actPrinterStatus_; }
  QAction *FindPrintersAction() const { return actFindPrinters_; }
  // Runs after each change of tab has refilled the speed, WPA type, cipher
  // and WEP type lists, so that an open profile can put its values back.
  std::function<void()> OnListsRefilled;

protected:
  // While a transfer runs, asks whether to abandon it; "No" keeps the
  // window open and the transfer going.
  void closeEvent(QCloseEvent *event) override;

private:
  // Reads and fills every control for profiles, and sends them.
  friend class TProfileControls;

  void FormCreate();
  void FormDestroy();
  void pgcFunctionChange();
  void tmr1Timer();

  // Base tab
  void btnBaseSetClick();
  void btnSelfTestClick();
  // Ethernet tab
  void btnIPSetClick();
  void btnMACSetClick();
  void btnSpeedSetClick();
  // Wi-Fi tab
  void btnWIFISetClick();
  // Black-mark tab
  void btnUseBMClick();
  void btnUnuseBMClick();
  void btnBMLengthClick();
  void btnBMWidthClick();
  void btnBMStartAtClick();
  void btnBMCutAtClick();
  void btnBMNextBMClick();
  void btnBMNextCutClick();
  // Download tab
  void btnADDLOGOClick();
  void btnDeleteLOGOClick();
  void btnDownloadLOGOClick();
  void btnChoseFWClick();
  void btnUpdateFWClick();

  // Port selection and connection
  void rgPortClick();
  void btnOpenCOMClick();
  void btnConnectClick();
  void clntsckt1Connecting(TCustomWinSocket &socket);
  void clntsckt1Connect(TCustomWinSocket &socket);
  void clntsckt1Disconnect(TCustomWinSocket &socket);
  void clntsckt1Error(TCustomWinSocket &socket, TErrorEvent errorEvent, int &errorCode);
  void cm1RequestHangup(TComm &sender);
  void cm1SendDataDiscarded(TComm &sender, quint64 byteCount);
  // The stream transfer on the connection: its progress and its end.
  void clntsckt1StreamAcknowledged(qint64 acknowledged, qint64 total);
  void clntsckt1StreamFinished(bool delivered, qint64 acknowledged, qint64 total, bool exact);
  void clntsckt1CloseFinished(qint64 undelivered);

  // The printer's state: asked over the open serial port or TCP
  // connection, shown at the right of the status bar.
  void AskPrinterState(TPrinterStateIndicator::Done done = {});
  // The indicator's text while no printer can be asked.
  void ShowPortState();
  void actPrinterStatusClick();
  void actFindPrintersClick();
  // Selects the found printer's "Port" item and fills its parameters.
  void UseFoundPrinter(const FoundPrinter &entry);

  // "Connect To Printer Error" boxes shown so far: a send that failed
  // with one needs no second box.
  int connectErrorBoxes_ = 0;
  class ChannelSinks;
  // The printer chosen for the spooler: the selected item of the printer
  // list, or none.
  QString SelectedPrinter() const;
  // Shows the refusals of a logo-set change and keeps the list box in step.
  void ApplyLogoChange(const LogoSet::Change &change);

  // Sends the sequences of one action on the active channels, writes the
  // outcome into the status panel and returns it. Then asks the printer's
  // state, unless `askState` is false: an action of several dispatches
  // (Send Profile) asks once at its end, so that no question goes out
  // between its sections.
  DispatchOutcome Dispatch(const std::vector<CommandSequence> &sequences, bool askState = true);
  // Starts the time allowance of one action's spooler jobs; afterwards,
  // ReportUnsettledJobs shows in one error box the jobs reported failed that
  // the print server may still hold.
  void BeginSpoolerAction();
  void ReportUnsettledJobs();
  ChannelState ActiveChannels() const;
  // Why the last spooler send failed, for a box's detail text.
  QString SpoolerFailure() const;
  MsgResult ShowBox(const QString &text, const QString &caption, MsgIcon icon,
                    MsgButtons buttons = MsgButtons::Ok, MsgModality modality = MsgModality::Owner,
                    const QString &detail = {});

  // Refuses a stream action with a box while an earlier transfer runs.
  bool RefuseWhileTransferRuns(const StreamAction &action);
  // Asks whether to abandon a transfer that runs before `what` ("close the
  // window", "disconnect") ends it. True when nothing runs or on Yes.
  bool AbandonTransfer(const QString &what);
  // Hands a copy of `stream` to the connection and follows it with the
  // progress bar. False (after an "Error!" box) when the connection did not
  // take it.
  bool StartTransfer(const StreamAction &action, const QByteArray &stream);
  // Shows a box once the current event has been handled: the end of a
  // transfer is reported from inside the connection's own work, which a
  // modal box must not hold up.
  void ShowBoxLater(const QString &text, const QString &caption, MsgIcon icon);

  // Connects a button's click to a handler that runs inside the guard.
  void Bind(QAbstractButton *button, void (TForm1::*handler)());
  void RunGuarded(void (TForm1::*handler)());

  std::unique_ptr<Ui::TForm1> ui;
  FormServices services_;
  std::unique_ptr<Spooler> ownSpooler_;
  Spooler *spooler_ = nullptr;
  std::unique_ptr<TComm> cm1;
  std::unique_ptr<TClientSocket> clntsckt1;
  QLabel *statusPanel_ = nullptr;
  std::unique_ptr<TTransferProgress> transfer_;
  TPrinterStateIndicator *printerState_ = nullptr;
  QAction *actPrinterStatus_ = nullptr;
  QAction *actFindPrinters_ = nullptr;
  QTimer *tmr1 = nullptr;

  // Logo storage and firmware state.
  LogoSet logos_;
  TFirmwareImage firmware_;
};

} // namespace pellicar
