#include "app/main_form.h"

#include "app/error_details.h"
#include "app/error_handler.h"
#include "app/field_labels.h"
#include "app/file_dialogs.h"
#include "app/find_printers_dialog.h"
#include "app/help_viewer.h"
#include "app/logo_preview.h"
#include "app/message_box.h"
#include "channels/spooler_channel.h"
#include "commands/base_commands.h"
#include "commands/blackmark_commands.h"
#include "commands/code_page_table.h"
#include "commands/ethernet_commands.h"
#include "commands/integer_field.h"
#include "commands/wifi_commands.h"
#include "discovery/address_range.h"
#include "logo/logo_picture.h"
#include "platform/printer_list.h"
#include "platform/serial_port_list.h"
#include "platform/spooler.h"
#include "ui_main_form.h"

#include <QAction>
#include <QBuffer>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QLabel>
#include <QListView>
#include <QStyledItemDelegate>
#include <QTimer>

namespace pellicar {

namespace {

// The code-page list draws its items at a fixed 16 pixels each.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
  FixedHeightDelegate(int height, QObject *parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(height_);
    return size;
  }

private:
  int height_;
};

template <std::size_t N> QStringList itemList(const std::array<const char *, N> &items) {
  QStringList list;
  for (const char *item : items)
    list.append(QString::fromUtf8(item));
  return list;
}

void refill(QComboBox *list, const QStringList &items, int selected) {
  list->clear();
  list->addItems(items);
  list->setCurrentIndex(selected);
}

} // namespace

TForm1::TForm1(FormServices services, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TForm1>()), services_(std::move(services)) {
  Q_ASSERT(services_.boxes != nullptr && services_.fileDialogs != nullptr);
  if (!services_.listPrinters)
    services_.listPrinters = [] { return ListInstalledPrinters(); };

  if (services_.spooler == nullptr)
    ownSpooler_ = CreateSystemSpooler();
  spooler_ = services_.spooler != nullptr ? services_.spooler : ownSpooler_.get();

  cm1 = services_.serialOpener ? std::make_unique<TComm>(services_.serialOpener)
                               : std::make_unique<TComm>();
  cm1->LoadFormValues();
  cm1->OnRequestHangup = [this](TComm &sender) {
    Guarded(*services_.boxes, this, [&] { cm1RequestHangup(sender); });
  };
  cm1->OnSendDataDiscarded = [this](TComm &sender, quint64 byteCount) {
    Guarded(*services_.boxes, this, [&] { cm1SendDataDiscarded(sender, byteCount); });
  };

  clntsckt1 = services_.resolver ? std::make_unique<TClientSocket>(nullptr, services_.resolver)
                                 : std::make_unique<TClientSocket>();
  clntsckt1->OnConnecting = [this](TCustomWinSocket &socket) {
    Guarded(*services_.boxes, this, [&] { clntsckt1Connecting(socket); });
  };
  clntsckt1->OnConnect = [this](TCustomWinSocket &socket) {
    Guarded(*services_.boxes, this, [&] { clntsckt1Connect(socket); });
  };
  clntsckt1->OnDisconnect = [this](TCustomWinSocket &socket) {
    Guarded(*services_.boxes, this, [&] { clntsckt1Disconnect(socket); });
  };
  clntsckt1->OnError = [this](TCustomWinSocket &socket, TErrorEvent kind, int &code) {
    Guarded(*services_.boxes, this, [&] { clntsckt1Error(socket, kind, code); });
  };
  // The printer's answers to status questions; other bytes it sends are
  // read and dropped, so that none is taken for a later answer.
  clntsckt1->OnRead = [this](TCustomWinSocket &socket) {
    Guarded(*services_.boxes, this, [&] {
      QByteArray bytes;
      socket.ReceiveBytes(bytes);
      printerState_->Take(bytes);
    });
  };
  cm1->OnReceiveData = [this](TComm &, const char *buffer, quint16 length) {
    Guarded(*services_.boxes, this, [&] { printerState_->Take(QByteArray(buffer, length)); });
  };
  clntsckt1->SetExceptionHandler(
      [this](std::exception_ptr error) { HandleException(*services_.boxes, this, error); });

  ui->setupUi(this);
  setFixedSize(432, 450);
  ui->rgPort->AdoptItems();
  connect(ui->rgPort, &TRadioGroup::Click, this, [this] { RunGuarded(&TForm1::rgPortClick); });

  statusPanel_ = new QLabel(ui->statAll);
  statusPanel_->setObjectName(QStringLiteral("statAllPanel0"));
  ui->statAll->addWidget(statusPanel_, 1);
  transfer_ = std::make_unique<TTransferProgress>(ui->statAll);
  printerState_ = new TPrinterStateIndicator(ui->statAll);
  ui->statAll->addPermanentWidget(printerState_);
  actPrinterStatus_ = new QAction(QStringLiteral("Printer Status"), this);
  actPrinterStatus_->setObjectName(QStringLiteral("actPrinterStatus"));
  connect(actPrinterStatus_, &QAction::triggered, this,
          [this] { RunGuarded(&TForm1::actPrinterStatusClick); });
  actFindPrinters_ = new QAction(QStringLiteral("Find Printers…"), this);
  actFindPrinters_->setObjectName(QStringLiteral("actFindPrinters"));
  connect(actFindPrinters_, &QAction::triggered, this,
          [this] { RunGuarded(&TForm1::actFindPrintersClick); });
  TCustomWinSocket *socket = &clntsckt1->Socket();
  connect(socket, &TCustomWinSocket::StreamAcknowledged, this,
          [this](qint64 acknowledged, qint64 total) {
            clntsckt1StreamAcknowledged(acknowledged, total);
          });
  connect(socket, &TCustomWinSocket::StreamStalled, this,
          [this](qint64, qint64, int stalledMs) { transfer_->Stalled(stalledMs); });
  connect(socket, &TCustomWinSocket::StreamFinished, this,
          [this](bool delivered, qint64 acknowledged, qint64 total, bool exact) {
            Guarded(*services_.boxes, this,
                    [&] { clntsckt1StreamFinished(delivered, acknowledged, total, exact); });
          });
  connect(socket, &TCustomWinSocket::CloseFinished, this, [this](qint64 undelivered) {
    Guarded(*services_.boxes, this, [&] { clntsckt1CloseFinished(undelivered); });
  });

  ui->cbbCodePage->setItemDelegate(new FixedHeightDelegate(16, ui->cbbCodePage));
  ui->cbbCodePage->view()->setItemDelegate(ui->cbbCodePage->itemDelegate());

  tmr1 = new QTimer(this);
  tmr1->setObjectName(QStringLiteral("tmr1"));
  tmr1->setInterval(1000);
  connect(tmr1, &QTimer::timeout, this, [this] { RunGuarded(&TForm1::tmr1Timer); });
  connect(ui->pgcFunction, &QTabWidget::currentChanged, this,
          [this] { RunGuarded(&TForm1::pgcFunctionChange); });

  Bind(ui->btnBaseSet, &TForm1::btnBaseSetClick);
  Bind(ui->btnSelfTest, &TForm1::btnSelfTestClick);
  Bind(ui->btnIPSet, &TForm1::btnIPSetClick);
  Bind(ui->btnMACSet, &TForm1::btnMACSetClick);
  Bind(ui->btnSpeedSet, &TForm1::btnSpeedSetClick);
  Bind(ui->btnWIFISet, &TForm1::btnWIFISetClick);
  Bind(ui->btnUseBM, &TForm1::btnUseBMClick);
  Bind(ui->btnUnuseBM, &TForm1::btnUnuseBMClick);
  Bind(ui->btnBMLength, &TForm1::btnBMLengthClick);
  Bind(ui->btnBMWidth, &TForm1::btnBMWidthClick);
  Bind(ui->btnBMStartAt, &TForm1::btnBMStartAtClick);
  Bind(ui->btnBMCutAt, &TForm1::btnBMCutAtClick);
  Bind(ui->btnBMNextBM, &TForm1::btnBMNextBMClick);
  Bind(ui->btnBMNextCut, &TForm1::btnBMNextCutClick);
  Bind(ui->btnADDLOGO, &TForm1::btnADDLOGOClick);
  Bind(ui->btnDeleteLOGO, &TForm1::btnDeleteLOGOClick);
  Bind(ui->btnDownloadLOGO, &TForm1::btnDownloadLOGOClick);
  Bind(ui->btnChoseFW, &TForm1::btnChoseFWClick);
  Bind(ui->btnUpdateFW, &TForm1::btnUpdateFWClick);
  Bind(ui->btnOpenCOM, &TForm1::btnOpenCOMClick);
  Bind(ui->btnConnect, &TForm1::btnConnectClick);
  connect(ui->btnHelp, &QAbstractButton::clicked, this,
          [this] { Guarded(*services_.boxes, this, [this] { ShowManual(this); }); });

  RunGuarded(&TForm1::FormCreate);
  tmr1->start();
}

TForm1::~TForm1() {
  FormDestroy();
  // The components raise no events into a window being destroyed.
  cm1->OnRequestHangup = nullptr;
  cm1->OnSendDataDiscarded = nullptr;
  cm1->OnReceiveData = nullptr;
  *static_cast<TSocketEvents *>(clntsckt1.get()) = TSocketEvents();
  clntsckt1->Socket().disconnect(this);
}

QString TForm1::StatusText() const { return statusPanel_->text(); }

void TForm1::SetStatusText(const QString &text) { statusPanel_->setText(text); }

QString TForm1::ClockText(const QDateTime &moment) {
  return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void TForm1::closeEvent(QCloseEvent *event) {
  bool close = true;
  Guarded(*services_.boxes, this,
          [&] { close = AbandonTransfer(QStringLiteral("close the window")); });
  if (close)
    event->accept();
  else
    event->ignore();
}

void TForm1::Bind(QAbstractButton *button, void (TForm1::*handler)()) {
  connect(button, &QAbstractButton::clicked, this, [this, handler] { RunGuarded(handler); });
}

void TForm1::RunGuarded(void (TForm1::*handler)()) {
  Guarded(*services_.boxes, this, [this, handler] { (this->*handler)(); });
}

void TForm1::FormCreate() {
  logos_ = LogoSet();

  SetStatusText(ClockText(services_.now()));

  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsBase), QStringLiteral(" Base "));
  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsEhternet),
                              QStringLiteral(" Ethernet "));
  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsWIFI), QStringLiteral(" WIFI "));
  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsBlackMark),
                              QStringLiteral(" BlackMark "));
  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsUpdate), QStringLiteral(" Download "));

  QStringList ports;
  ListSerialPorts(ports, services_.sysfsRoot);
  ports << ListSerialPortLinks(services_.devRoot) << services_.extraSerialPorts;
  ports.removeDuplicates();
  refill(ui->cbbCOM, ports, ports.isEmpty() ? -1 : 0);

  const QStringList printers = services_.listPrinters();
  refill(ui->cbbDriver, printers, printers.isEmpty() ? -1 : 0);

  QStringList codePages;
  for (const CodePage &page : kCodePages)
    codePages.append(page.displayName());
  refill(ui->cbbCodePage, codePages, 0);

  refill(ui->cbbDesity, itemList(kDensityItems), 0);
  refill(ui->cbbCHS, itemList(kCharsPerLineItems), 0);
  ShowPortState();
}

void TForm1::FormDestroy() {
  // The port's threads must not outlive the component; its queued output
  // is written first.
  if (SerialOpen) {
    cm1->ClosePort();
    SerialOpen = false;
  }
  firmware_.Release();
  logos_ = LogoSet();
}

void TForm1::pgcFunctionChange() {
  refill(ui->cbbSpeed, itemList(kLinkSpeedItems), 0);
  refill(ui->cbbWPAType, itemList(kWpaTypeItems), 0);
  refill(ui->cbbENType, itemList(kCipherItems), 1);
  refill(ui->cbbWEPType, itemList(kWepTypeItems), 0);
  if (OnListsRefilled)
    OnListsRefilled();
}

void TForm1::tmr1Timer() { SetStatusText(ClockText(services_.now())); }

MsgResult TForm1::ShowBox(const QString &text, const QString &caption, MsgIcon icon,
                          MsgButtons buttons, MsgModality modality, const QString &detail) {
  return services_.boxes->Show(this, {text, caption, icon, buttons, modality, detail});
}

// ---- Base tab ----

void TForm1::btnBaseSetClick() {
  BaseSettings settings;
  settings.baudRateIndex = ui->cbbCPBR->currentIndex();
  settings.cutter = ui->chkCutter->isChecked();
  settings.buzzer = ui->chkBuzzer->isChecked();
  settings.drawer = ui->chkDrawer->isChecked();
  settings.charsPerLineIndex = ui->cbbCHS->currentIndex();
  settings.densityIndex = ui->cbbDesity->currentIndex();
  settings.codePageIndex = ui->cbbCodePage->currentIndex();
  settings.parityIndex = ui->cbbCPPARITY->currentIndex();
  settings.fontIndex = ui->cbbFont->currentIndex();
  settings.reprint = ui->chkRePrint->isChecked();
  settings.buzzAfterPrinting = ui->chkBAP->isChecked();
  Dispatch(BuildBaseSettings(settings));
}

void TForm1::btnSelfTestClick() { Dispatch({BuildSelfTest()}); }

// ---- Ethernet tab ----

void TForm1::btnIPSetClick() {
  IpAddressFields fields;
  fields.texts = {ui->edtIPAD1->text(), ui->edtIPAD2->text(), ui->edtIPAD3->text(),
                  ui->edtIPAD4->text()};
  CheckIntegerFields(FieldRow(ui->lblIP->text(), {fields.texts.begin(), fields.texts.end()}, 1, 4));
  Dispatch({BuildSetIp(fields)});
}

void TForm1::btnMACSetClick() {
  MacAddressFields fields;
  fields.texts = {ui->edtMAC1->text(), ui->edtMAC2->text(), ui->edtMAC3->text(),
                  ui->edtMAC4->text(), ui->edtMAC5->text()};
  // The first box of six is fixed; the five after it are typed.
  CheckIntegerFields(
      FieldRow(ui->lblMAC->text(), {fields.texts.begin(), fields.texts.end()}, 2, 6));
  Dispatch({BuildSetMac(fields)});
}

void TForm1::btnSpeedSetClick() { Dispatch({BuildSetSpeed(ui->cbbSpeed->currentIndex())}); }

// ---- Wi-Fi tab ----

void TForm1::btnWIFISetClick() {
  WifiSettings settings;
  settings.ssid = ui->edtWIFISSID->text();
  settings.security = ui->rbWPA->isChecked()   ? WifiSecurity::Wpa
                      : ui->rbWEP->isChecked() ? WifiSecurity::Wep
                                               : WifiSecurity::Open;
  settings.wpaTypeIndex = ui->cbbWPAType->currentIndex();
  settings.cipherIndex = ui->cbbENType->currentIndex();
  settings.wpaKey = ui->edtWPAPassword->text();
  settings.wepTypeIndex = ui->cbbWEPType->currentIndex();
  settings.wepKey = ui->edtWEPPassword->text();
  CommandSequence sequence;
  try {
    sequence = BuildSetWifi(settings);
  } catch (const ETextTooLong &tooLong) {
    ShowBox(tooLong.message(), QStringLiteral("Error"), MsgIcon::Error);
    return;
  }
  Dispatch({sequence});
}

// ---- Black-mark tab ----

void TForm1::btnUseBMClick() { Dispatch({BuildEnableBlackMark()}); }
void TForm1::btnUnuseBMClick() { Dispatch({BuildDisableBlackMark()}); }

void TForm1::btnBMLengthClick() {
  CheckIntegerFields({{ui->lblBMLength->text(), ui->edtBMLength->text()}});
  Dispatch({BuildBlackMarkDistance(BlackMarkDistance::Pitch, ui->edtBMLength->text())});
}

void TForm1::btnBMWidthClick() {
  CheckIntegerFields({{ui->lblBMWidth->text(), ui->edtBMWidth->text()}});
  Dispatch({BuildBlackMarkDistance(BlackMarkDistance::Width, ui->edtBMWidth->text())});
}

void TForm1::btnBMStartAtClick() {
  CheckIntegerFields({{ui->lblBMStartAt->text(), ui->edtBMStartAt->text()}});
  Dispatch({BuildBlackMarkDistance(BlackMarkDistance::PrintAfter, ui->edtBMStartAt->text())});
}

void TForm1::btnBMCutAtClick() {
  CheckIntegerFields({{ui->lblBMCutAt->text(), ui->edtBMCutAt->text()}});
  Dispatch({BuildBlackMarkDistance(BlackMarkDistance::CutAfter, ui->edtBMCutAt->text())});
}

void TForm1::btnBMNextBMClick() { Dispatch({BuildNextBlackMark()}); }
void TForm1::btnBMNextCutClick() { Dispatch({BuildNextCut()}); }

} // namespace pellicar

namespace pellicar {

// ---- Download tab: logos ----

void TForm1::ApplyLogoChange(const LogoSet::Change &change) {
  for (const LogoSet::Refusal &refusal : change.refusals) {
    ShowBox(refusal.failure.text, refusal.failure.caption, MsgIcon::Error);
    for (qsizetype entry : refusal.takeOut)
      delete ui->lstLOGOList->takeItem(int(entry));
  }
  // A take-back works as a delete, which leaves nothing selected.
  if (!change.refusals.isEmpty())
    ui->lstLOGOList->setCurrentRow(-1);
  ui->lblLOGOSIZE->setText(logos_.SpaceLabel());
}

void TForm1::btnADDLOGOClick() {
  if (const auto refusal = logos_.CheckAdd()) {
    ShowBox(refusal->text, refusal->caption, MsgIcon::Error);
    return;
  }
  FileDialogRequest request;
  request.preview = RenderLogoPreview;
  request.mustExist = false;
  const QString path = services_.fileDialogs->OpenFile(this, request);
  if (path.isEmpty())
    return;
  const LogoSet::Change change = logos_.Add(path);
  if (!change.changed)
    return;
  ui->lstLOGOList->addItem(LogoSet::DisplayName(path));
  ApplyLogoChange(change);
}

void TForm1::btnDeleteLOGOClick() {
  const LogoSet::Change change = logos_.Delete(ui->lstLOGOList->currentRow());
  if (!change.changed)
    return;
  delete ui->lstLOGOList->takeItem(int(change.removed));
  ui->lstLOGOList->setCurrentRow(-1);
  ApplyLogoChange(change);
}

// ---- Download tab: firmware ----

void TForm1::btnChoseFWClick() {
  FileDialogRequest request;
  request.filter = QStringLiteral("Firmware(.bin) (*.bin)");
  const QString picked = services_.fileDialogs->OpenFile(this, request);
  if (!picked.isEmpty())
    ui->edtFirmwareFile->setText(picked);
  const FirmwareStep step = firmware_.Choose(ui->edtFirmwareFile->text());
  if (step.ShowsError())
    ShowBox(step.errorText, step.errorCaption, MsgIcon::Error, MsgButtons::Ok, MsgModality::Owner,
            FirmwareDetail(ui->edtFirmwareFile->text(), step.verdict));
  if (step.clearEdit)
    ui->edtFirmwareFile->clear();
}

} // namespace pellicar

namespace pellicar {

// ---- the active channels ----

// The dispatch's three ways out, over the window's channels.
class TForm1::ChannelSinks final : public OutputSinks {
public:
  explicit ChannelSinks(TForm1 &form) : form_(form), printer_(form.SelectedPrinter()) {}

  bool SpoolerSend(const CommandSequence &s) override {
    if (SendRawBuffer(*form_.spooler_, printer_, s.documentName, s.bytes) == s.bytes.size())
      return true;
    failures_ << form_.SpoolerFailure();
    return false;
  }
  bool SerialSend(const CommandSequence &s) override {
    if (form_.cm1->SendData(s.bytes))
      return true;
    failures_ << SendFailureDetail(QStringLiteral("COM Port："), form_.cm1->CommName(),
                                   QStringLiteral("the port did not take the commands (it was "
                                                  "closed, or its queue is full)"));
    return false;
  }
  bool TcpSend(const CommandSequence &s) override {
    const int errorBoxes = form_.connectErrorBoxes_;
    if (form_.clntsckt1->Socket().SendBytes(s.bytes.constData(), int(s.bytes.size())) ==
        s.bytes.size())
      return true;
    // A send error has had its own box ("Connect To Printer Error").
    if (form_.connectErrorBoxes_ != errorBoxes)
      return false;
    failures_ << SendFailureDetail(
        QStringLiteral("Ethernet ："),
        QStringLiteral("%1:%2").arg(form_.clntsckt1->Host()).arg(form_.clntsckt1->Port()),
        QStringLiteral("the connection did not take the commands (it broke or was closed)"));
    return false;
  }

  // One line per channel that failed, naming it and the cause.
  const QStringList &Failures() const { return failures_; }

private:
  TForm1 &form_;
  QString printer_;
  QStringList failures_;
};

QString TForm1::SpoolerFailure() const {
  const QString printer = SelectedPrinter();
  QString cause = spooler_->LastError();
  if (printer.isEmpty())
    cause = ui->cbbDriver->count() == 0 ? QStringLiteral("no print queue is installed on this "
                                                         "computer, so there is none to send to")
                                        : QStringLiteral("no print queue is chosen in the list");
  else if (cause.isEmpty())
    cause = QStringLiteral("the print server did not take the job");
  return SendFailureDetail(QStringLiteral("Driver："), printer, cause);
}

QString TForm1::SelectedPrinter() const {
  return ui->cbbDriver->currentIndex() < 0 ? QString() : ui->cbbDriver->currentText();
}

ChannelState TForm1::ActiveChannels() const {
  return {ui->rgPort->ItemIndex() == 0, SerialOpen, TcpConnected};
}

DispatchOutcome TForm1::Dispatch(const std::vector<CommandSequence> &sequences, bool askState) {
  const ChannelState state = ActiveChannels();
  if (state.spoolerSelected)
    BeginSpoolerAction();
  ChannelSinks sinks(*this);
  const DispatchOutcome outcome = DispatchCommands(state, sinks, sequences);
  SetStatusText(OutcomeText(outcome));
  ReportUnsettledJobs();
  // The panel's text lasts until the next tick of the clock: a failure
  // also gets a box that stays, with the channel and the cause.
  if (outcome == DispatchOutcome::SendFailed && !sinks.Failures().isEmpty())
    ShowBox(OutcomeText(outcome), QStringLiteral("Error"), MsgIcon::Error, MsgButtons::Ok,
            MsgModality::Owner, sinks.Failures().join(QLatin1Char('\n')));
  if (askState)
    AskPrinterState();
  return outcome;
}

namespace {

// The spooler's jobs are sent synchronously on the main thread, so the
// window does not respond while one action's jobs go out; a print server
// that stops answering holds it for at most this long per action, the
// cancel of an unconfirmed job included.
constexpr int kSpoolerActionMs = 2000;

} // namespace

void TForm1::BeginSpoolerAction() { spooler_->SetDeadline(QDeadlineTimer(kSpoolerActionMs)); }

void TForm1::ReportUnsettledJobs() {
  const QStringList unsettled = spooler_->TakeUnsettledJobs();
  if (!unsettled.isEmpty())
    ShowBox(unsettled.join(QLatin1Char('\n')), QStringLiteral("Error"), MsgIcon::Error);
}

namespace {

std::unique_ptr<QIODevice> ReaderOver(const QByteArray &bytes) {
  auto buffer = std::make_unique<QBuffer>();
  buffer->setData(bytes);
  buffer->open(QIODevice::ReadOnly);
  return buffer;
}

const QString kCanNotUseComPort = QStringLiteral("Can not Use COM Port !");
// The item of "Port" whose channel is the TCP connection.
constexpr int kEthernetItem = 2;

} // namespace

// ---- Download tab: stream actions ----

bool TForm1::RefuseWhileTransferRuns(const StreamAction &action) {
  if (!transfer_->Running())
    return false;
  ShowBox(transfer_->RunningText() + QStringLiteral(" Wait until it has ended."), action.caption,
          MsgIcon::Error);
  return true;
}

bool TForm1::AbandonTransfer(const QString &what) {
  if (!transfer_->Running())
    return true;
  const QString question =
      transfer_->RunningText() + QStringLiteral(" Abandon it and %1?").arg(what);
  return ShowBox(question, transfer_->Action().caption, MsgIcon::Warning, MsgButtons::YesNo) ==
         MsgResult::Yes;
}

bool TForm1::StartTransfer(const StreamAction &action, const QByteArray &stream) {
  // A status question under way would have its next request wait behind
  // the whole stream and run out of time, showing "No answer" for a
  // printer that is busy reading; it ends here, and the transfer's end
  // asks again.
  printerState_->Abandon(
      QStringLiteral("a transfer began before the printer answered; ask again once it has ended"));
  // The bar is up before the hand-over, which sends the first pieces at once.
  transfer_->Begin(action, stream.size());
  bool taken = false;
  try {
    taken = clntsckt1->Socket().BeginStreamSend(ReaderOver(stream));
  } catch (...) {
    // A first piece that failed ended the transfer, and its end was
    // reported; the abort goes on to end the handler.
    transfer_->End();
    throw;
  }
  if (!taken) {
    transfer_->End();
    ShowBox(QStringLiteral("Error!"), action.caption, MsgIcon::Error);
  }
  return taken;
}

void TForm1::ShowBoxLater(const QString &text, const QString &caption, MsgIcon icon) {
  QTimer::singleShot(0, this, [this, text, caption, icon] {
    Guarded(*services_.boxes, this, [&] { ShowBox(text, caption, icon); });
  });
}

void TForm1::btnDownloadLOGOClick() {
  const StreamAction action = StreamAction::LogoDownload();
  if (RefuseWhileTransferRuns(action))
    return;
  if (const auto refusal = logos_.CheckDownload()) {
    ShowBox(refusal->text, refusal->caption, MsgIcon::Error);
    return;
  }
  const QByteArray stream = logos_.DownloadStream();
  const ChannelState state = ActiveChannels();
  bool spoolerSent = false;
  // Each channel reads its own copy from the start.
  if (state.spoolerSelected) {
    const std::unique_ptr<QIODevice> copy = ReaderOver(stream);
    BeginSpoolerAction();
    spoolerSent = SendRawStream(*spooler_, SelectedPrinter(), action.documentName, *copy);
    if (spoolerSent)
      ShowBox(QStringLiteral("OK!"), action.caption, MsgIcon::Information);
    else
      ShowBox(QStringLiteral("Error!"), action.caption, MsgIcon::Error, MsgButtons::Ok,
              MsgModality::Owner, SpoolerFailure());
    ReportUnsettledJobs();
  }
  const bool transferring = state.tcpConnected && StartTransfer(action, stream);
  if (state.serialOpen)
    SetStatusText(kCanNotUseComPort);
  else if (spoolerSent)
    SetStatusText(OutcomeText(DispatchOutcome::Complete));
  else if (transferring)
    return; // the outcome follows when the printer has every byte
  else if (state.spoolerSelected || state.tcpConnected)
    SetStatusText(OutcomeText(DispatchOutcome::SendFailed));
  else
    SetStatusText(OutcomeText(DispatchOutcome::NoChannel));
}

void TForm1::btnUpdateFWClick() {
  const StreamAction action = StreamAction::FirmwareUpload();
  if (RefuseWhileTransferRuns(action))
    return;
  const FirmwareStep step = firmware_.PrepareUpload(ui->edtFirmwareFile->text());
  if (step.ShowsError()) {
    ShowBox(step.errorText, step.errorCaption, MsgIcon::Error, MsgButtons::Ok, MsgModality::Owner,
            FirmwareDetail(ui->edtFirmwareFile->text(), step.verdict));
    if (step.clearEdit)
      ui->edtFirmwareFile->clear();
    return;
  }
  ShowBox(QStringLiteral("Keep The Printer Connected Then Press OK!"), action.caption,
          MsgIcon::Warning, MsgButtons::Ok, MsgModality::System);
  // The sending starts when the warning is closed, on the channels active
  // then; a transfer started meanwhile (the box does not stop the event
  // loop) is not doubled.
  if (RefuseWhileTransferRuns(action))
    return;
  const ChannelState state = ActiveChannels();
  if (state.spoolerSelected) {
    // One synchronous job: its outcome is known here.
    const std::unique_ptr<QIODevice> copy = ReaderOver(step.upload);
    BeginSpoolerAction();
    const bool sent = SendRawStream(*spooler_, SelectedPrinter(), action.documentName, *copy);
    SetStatusText(OutcomeText(sent ? DispatchOutcome::Complete : DispatchOutcome::SendFailed));
    ReportUnsettledJobs();
    if (!sent)
      ShowBox(OutcomeText(DispatchOutcome::SendFailed), QStringLiteral("Error"), MsgIcon::Error,
              MsgButtons::Ok, MsgModality::Owner, SpoolerFailure());
  }
  if (state.tcpConnected)
    StartTransfer(action, step.upload);
  if (state.serialOpen)
    SetStatusText(kCanNotUseComPort);
}

// A connection closed in order ("Disconnect", a change of port, the printer
// closing) has finished closing. What it had accepted but could not hand to
// the printer is not dropped in silence.
void TForm1::clntsckt1CloseFinished(qint64 undelivered) {
  if (undelivered <= 0)
    return;
  ShowBoxLater(QStringLiteral("The last %1 bytes sent to the printer did not reach it before "
                              "the connection closed.")
                   .arg(TTransferProgress::Count(undelivered)),
               QStringLiteral("Error"), MsgIcon::Error);
}

void TForm1::clntsckt1StreamAcknowledged(qint64 acknowledged, qint64 total) {
  transfer_->Advance(acknowledged, total);
}

// The connection released the stream: delivered only when the printer's
// side acknowledged every byte, whichever way it ended otherwise (a send
// error, the printer closing or resetting, "Disconnect", a change of port).
void TForm1::clntsckt1StreamFinished(bool delivered, qint64 acknowledged, qint64 total,
                                     bool exact) {
  if (!transfer_->Running())
    return;
  const StreamAction action = transfer_->Action();
  const int stalledMs = transfer_->StalledMs();
  transfer_->End();
  AskPrinterState();
  if (delivered) {
    SetStatusText(OutcomeText(DispatchOutcome::Complete));
    if (action.confirmsWithBox)
      ShowBoxLater(QStringLiteral("OK!"), action.caption, MsgIcon::Information);
    return;
  }
  SetStatusText(OutcomeText(DispatchOutcome::SendFailed));
  ShowBoxLater(TTransferProgress::StoppedText(action, acknowledged, total, exact, stalledMs),
               QStringLiteral("Error"), MsgIcon::Error);
}

// ---- port selection and connection ----

void TForm1::rgPortClick() {
  const int item = ui->rgPort->ItemIndex();
  // Leaving "Ethernet" ends a transfer on the connection: asked first, and
  // on No the choice goes back.
  if (item != kEthernetItem && !AbandonTransfer(QStringLiteral("change the port"))) {
    ui->rgPort->SetItemIndex(kEthernetItem);
    return;
  }
  if (SerialOpen) {
    cm1->ClosePort();
    SerialOpen = false;
    ui->btnOpenCOM->setText(QStringLiteral("Open"));
  }
  ui->btnOpenCOM->setEnabled(item == 1);
  // An attempt still under way is abandoned too, so that it cannot make the
  // TCP channel active behind the user's back.
  if (TcpConnected || clntsckt1->Socket().Connecting()) {
    clntsckt1->SetActive(false);
    TcpConnected = false;
    ui->btnConnect->setText(QStringLiteral("Connect"));
  }
  ui->btnConnect->setEnabled(item == 2);
  ShowPortState();
}

void TForm1::btnOpenCOMClick() {
  if (ui->btnOpenCOM->text() == QLatin1String("Open")) {
    cm1->SetCommName(ui->cbbCOM->currentText());
    cm1->SetBaudRate(ui->cbbBaudrate->currentText().toUInt());
    cm1->SetParity(TParity(ui->cbbParity->currentIndex()));
    cm1->OpenPort();
    SerialOpen = true;
    ui->btnOpenCOM->setText(QStringLiteral("Close"));
    AskPrinterState();
  } else {
    cm1->ClosePort();
    SerialOpen = false;
    ui->btnOpenCOM->setText(QStringLiteral("Open"));
    ShowPortState();
  }
}

void TForm1::btnConnectClick() {
  if (ui->btnConnect->text() == QLatin1String("Connect")) {
    clntsckt1->SetActive(false);
    clntsckt1->SetHost(ui->edtETHIP->text());
    // The port is the second box of the "Ethernet ：" row, after the address.
    CheckIntegerFields({{QStringLiteral("Ethernet ："), ui->edtETHPort->text(), 2, 2}});
    clntsckt1->SetPort(ConvertIntegerField(ui->edtETHPort->text()));
    clntsckt1->SetActive(true);
  } else {
    // "Connecting" abandons the attempt, "Disconnect" closes the connection
    // (after asking, when a transfer runs on it).
    if (!AbandonTransfer(QStringLiteral("disconnect")))
      return;
    clntsckt1->SetActive(false);
    ui->btnConnect->setText(QStringLiteral("Connect"));
    TcpConnected = false;
    ShowPortState();
  }
}

void TForm1::clntsckt1Connecting(TCustomWinSocket &) {
  ui->btnConnect->setText(QStringLiteral("Connecting"));
}

void TForm1::clntsckt1Connect(TCustomWinSocket &) {
  ui->btnConnect->setText(QStringLiteral("Disconnect"));
  TcpConnected = true;
  AskPrinterState();
}

// The printer closed the connection, or a failed send closed it: the
// channel is no longer active.
void TForm1::clntsckt1Disconnect(TCustomWinSocket &) {
  TcpConnected = false;
  ui->btnConnect->setText(QStringLiteral("Connect"));
  ShowPortState();
}

void TForm1::clntsckt1Error(TCustomWinSocket &, TErrorEvent kind, int &errorCode) {
  ++connectErrorBoxes_;
  const QString host = clntsckt1->Host().isEmpty() ? clntsckt1->Address() : clntsckt1->Host();
  ShowBox(QStringLiteral("Connect To Printer Error"), QStringLiteral("Error"), MsgIcon::Error,
          MsgButtons::Ok, MsgModality::Owner,
          ConnectErrorDetail(host, clntsckt1->Port(), kind, errorCode));
  ui->btnConnect->setText(QStringLiteral("Connect"));
  errorCode = 0;
  // A connection that met an error (the printer reset it) is of no further
  // use: it is closed, so that the channel stops counting as active while
  // the button offers "Connect" (OnDisconnect clears TcpConnected).
  if (clntsckt1->Active())
    clntsckt1->SetActive(false);
}

// A worker thread of the serial port met a failure (the adapter was
// unplugged, the line went away): the port is closed, not left half alive.
void TForm1::cm1RequestHangup(TComm &) {
  if (!SerialOpen)
    return;
  cm1->ClosePort();
  SerialOpen = false;
  ui->btnOpenCOM->setText(QStringLiteral("Open"));
  ShowPortState();
  ShowBox(QStringLiteral("Serial Port Error"), QStringLiteral("Error"), MsgIcon::Error);
}

// Closing the port threw away commands the line could not take in time
// (the printer stopped reading, or far more was queued than the line's
// speed lets out within the close's bound).
void TForm1::cm1SendDataDiscarded(TComm &, quint64 byteCount) {
  ShowBox(QStringLiteral("The last %1 bytes sent to the printer were not written to the serial "
                         "port before it closed.")
              .arg(TTransferProgress::Count(qint64(byteCount))),
          QStringLiteral("Error"), MsgIcon::Error);
}

// ---- the printer's state, and finding printers ----

void TForm1::AskPrinterState(TPrinterStateIndicator::Done done) {
  if (!services_.askPrinterState && !done)
    return;
  // A question queued behind a long transfer would wait for all of it and
  // time out; the transfer's end asks instead.
  if (TcpConnected && clntsckt1->Socket().StreamSending()) {
    if (done)
      done({false, QStringLiteral("a transfer is under way; ask again once it has ended")});
    return;
  }
  TStatusAsk::Send send;
  if (TcpConnected)
    send = [this](const QByteArray &bytes) {
      return clntsckt1->Socket().SendBytes(bytes.constData(), int(bytes.size())) ==
             int(bytes.size());
    };
  else if (SerialOpen)
    send = [this](const QByteArray &bytes) { return cm1->SendData(bytes); };
  if (!send) {
    ShowPortState();
    if (done)
      done({false, OutcomeText(DispatchOutcome::NoChannel)});
    return;
  }
  printerState_->Ask(std::move(send), std::move(done));
}

void TForm1::ShowPortState() {
  if (TcpConnected || SerialOpen)
    return;
  if (ui->rgPort->ItemIndex() == 0)
    printerState_->ShowPrintQueue();
  else
    printerState_->ShowNotConnected();
}

void TForm1::actPrinterStatusClick() {
  const QString caption = QStringLiteral("Printer Status");
  if (!TcpConnected && !SerialOpen) {
    ShowBox(ui->rgPort->ItemIndex() == 0 ? printerState_->text()
                                         : OutcomeText(DispatchOutcome::NoChannel),
            caption, MsgIcon::Information);
    return;
  }
  AskPrinterState([this, caption](const TPrinterStateIndicator::Outcome &outcome) {
    if (outcome.answered)
      ShowBoxLater(outcome.text.trimmed(), caption, MsgIcon::Information);
    else
      ShowBoxLater(QStringLiteral("No answer: %1").arg(outcome.text), caption, MsgIcon::Error);
  });
}

void TForm1::actFindPrintersClick() {
  LocalDeviceOptions options;
  options.devRoot = services_.devRoot;
  options.sysfsRoot = services_.sysfsRoot;
  bool ok = false;
  const uint port = ui->edtETHPort->text().trimmed().toUInt(&ok);
  auto *dialog = new TFindPrintersDialog(Slash24Of(ui->edtETHIP->text()),
                                         quint16(ok && port <= 65535 ? port : 9100), options, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &TFindPrintersDialog::Chosen, this, [this](const FoundPrinter &entry) {
    Guarded(*services_.boxes, this, [&] { UseFoundPrinter(entry); });
  });
  // Window-modal, without a loop of its own: the window's events go on.
  dialog->open();
}

void TForm1::UseFoundPrinter(const FoundPrinter &entry) {
  auto choose = [](QComboBox *list, const QString &text) {
    if (list->findText(text) < 0)
      list->addItem(text);
    list->setCurrentIndex(list->findText(text));
  };
  int item = 2;
  if (entry.kind == FoundPrinter::Kind::Queue)
    item = 0;
  else if (entry.kind == FoundPrinter::Kind::Serial)
    item = 1;
  else if (entry.kind != FoundPrinter::Kind::Network)
    return;
  // As the user's own choice: what is open closes, the right button wakes.
  if (ui->rgPort->ItemIndex() != item)
    ui->rgPort->Item(item)->click();
  if (item == 0)
    choose(ui->cbbDriver, entry.name);
  else if (item == 1)
    choose(ui->cbbCOM, entry.name);
  else {
    ui->edtETHIP->setText(entry.name);
    ui->edtETHPort->setText(QString::number(entry.port));
  }
}

} // namespace pellicar
