#include "app/profile_controls.h"

#include "app/error_handler.h"
#include "app/main_form.h"
#include "app/radio_group.h"
#include "channels/spooler_channel.h"
#include "commands/integer_field.h"
#include "platform/spooler.h"
#include "ui_main_form.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTimer>

namespace pellicar {

namespace {

const QString kSendCaption = QStringLiteral("Send Profile");

// A numeric field by the integer-field rule, within what a profile takes.
int Field(const QLineEdit *edit, const QString &label, int low, int high) {
  const std::optional<std::int32_t> value = ParseIntegerField(edit->text());
  if (!value)
    throw EProfileError(label,
                        QStringLiteral("'%1' is not a valid integer value").arg(edit->text()));
  if (*value < low || *value > high)
    throw EProfileError(
        label,
        QStringLiteral("%1 is not between %2 and %3 in a profile").arg(*value).arg(low).arg(high));
  return *value;
}

// A list's selection; while the list is still empty (it is filled on the
// first change of tab), the value it will show then.
int ListIndex(const QComboBox *list, const std::optional<int> &remembered, int initial) {
  if (list->currentIndex() >= 0)
    return list->currentIndex();
  return remembered.value_or(initial);
}

void CheckBytes(const QString &text, const QString &label) {
  const qsizetype bytes = text.toUtf8().size();
  if (bytes > kMaxWifiTextBytes)
    throw EProfileError(label, QStringLiteral("%1 bytes long; the printer's command takes at most "
                                              "%2")
                                   .arg(bytes)
                                   .arg(kMaxWifiTextBytes));
}

// A file name for an embedded logo: its name without folders.
QString SafeName(const QString &name, qsizetype index) {
  QString safe = name;
  safe.replace(QLatin1Char('/'), QLatin1Char('_'));
  safe.remove(QChar(0));
  if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
    safe = QStringLiteral("logo-%1.bmp").arg(index + 1);
  return safe;
}

} // namespace

TProfileControls::TProfileControls(TForm1 &form) : form_(form) {
  for (int part = 0; part < kPartCount; ++part)
    if (part != kMarkMode)
      inPlay_.insert(part);
  WatchUserChanges();
  form_.OnListsRefilled = [this] { PutListsBack(); };
}

TProfileControls::~TProfileControls() {
  form_.OnListsRefilled = nullptr;
  QObject::disconnect(transferDone_);
}

// What the user changes by hand comes into play, so that Save and Send take
// it even when the open profile did not set that part.
void TProfileControls::WatchUserChanges() {
  Ui::TForm1 &ui = *form_.ui;
  const auto edits = [this](std::initializer_list<QLineEdit *> list, Part part) {
    for (QLineEdit *edit : list)
      connect(edit, &QLineEdit::textEdited, this, [this, part] { Touch(part); });
  };
  const auto lists = [this](std::initializer_list<QComboBox *> list, Part part) {
    for (QComboBox *combo : list)
      connect(combo, &QComboBox::activated, this, [this, part] { Touch(part); });
  };
  const auto buttons = [this](std::initializer_list<QAbstractButton *> list, Part part) {
    for (QAbstractButton *button : list)
      connect(button, &QAbstractButton::clicked, this, [this, part] { Touch(part); });
  };
  lists({ui.cbbCPBR, ui.cbbCPPARITY, ui.cbbFont, ui.cbbDesity, ui.cbbCHS, ui.cbbCodePage}, kBase);
  buttons({ui.chkBuzzer, ui.chkDrawer, ui.chkCutter, ui.chkRePrint, ui.chkBAP}, kBase);
  edits({ui.edtIPAD1, ui.edtIPAD2, ui.edtIPAD3, ui.edtIPAD4}, kIp);
  edits({ui.edtMAC1, ui.edtMAC2, ui.edtMAC3, ui.edtMAC4, ui.edtMAC5}, kMac);
  lists({ui.cbbSpeed}, kSpeed);
  edits({ui.edtWIFISSID, ui.edtWPAPassword, ui.edtWEPPassword}, kWifi);
  buttons({ui.rbNoPassword, ui.rbWPA, ui.rbWEP}, kWifi);
  lists({ui.cbbWPAType, ui.cbbENType, ui.cbbWEPType}, kWifi);
  edits({ui.edtBMLength}, kMarkPitch);
  edits({ui.edtBMWidth}, kMarkWidth);
  edits({ui.edtBMStartAt}, kMarkPrint);
  edits({ui.edtBMCutAt}, kMarkCut);
  buttons({ui.btnADDLOGO, ui.btnDeleteLOGO}, kLogos);
  lists({ui.cbbDriver, ui.cbbCOM, ui.cbbBaudrate, ui.cbbParity}, kConnection);
  edits({ui.edtETHIP, ui.edtETHPort}, kConnection);
  connect(ui.rgPort, &TRadioGroup::Click, this, [this] { Touch(kConnection); });
  // The printer's black-mark mode is what was last sent.
  connect(ui.btnUseBM, &QAbstractButton::clicked, this, [this] {
    markEnabled_ = true;
    Touch(kMarkMode);
  });
  connect(ui.btnUnuseBM, &QAbstractButton::clicked, this, [this] {
    markEnabled_ = false;
    Touch(kMarkMode);
  });
}

Profile TProfileControls::Read(const QString &name) const {
  Ui::TForm1 &ui = *form_.ui;
  const auto in = [this](Part part) { return inPlay_.contains(part); };
  Profile profile;
  profile.name = name;
  if (in(kBase)) {
    BaseSettings base;
    base.baudRateIndex = ui.cbbCPBR->currentIndex();
    base.cutter = ui.chkCutter->isChecked();
    base.buzzer = ui.chkBuzzer->isChecked();
    base.drawer = ui.chkDrawer->isChecked();
    base.charsPerLineIndex = ui.cbbCHS->currentIndex();
    base.densityIndex = ui.cbbDesity->currentIndex();
    base.codePageIndex = ui.cbbCodePage->currentIndex();
    base.parityIndex = ui.cbbCPPARITY->currentIndex();
    base.fontIndex = ui.cbbFont->currentIndex();
    base.reprint = ui.chkRePrint->isChecked();
    base.buzzAfterPrinting = ui.chkBAP->isChecked();
    profile.base = base;
  }
  if (in(kIp)) {
    const QLineEdit *edits[] = {ui.edtIPAD1, ui.edtIPAD2, ui.edtIPAD3, ui.edtIPAD4};
    IpAddressFields ip;
    for (int i = 0; i < 4; ++i)
      ip.texts[i] =
          QString::number(Field(edits[i], QStringLiteral("IP field %1").arg(i + 1), 0, 255));
    profile.ip = ip;
  }
  if (in(kMac)) {
    const QLineEdit *edits[] = {ui.edtMAC1, ui.edtMAC2, ui.edtMAC3, ui.edtMAC4, ui.edtMAC5};
    MacAddressFields mac;
    for (int i = 0; i < 5; ++i)
      mac.texts[i] =
          QString::number(Field(edits[i], QStringLiteral("MAC field %1").arg(i + 2), 0, 255));
    profile.mac = mac;
  }
  if (in(kSpeed))
    profile.speedIndex = ListIndex(ui.cbbSpeed, speed_, 0);
  if (in(kWifi)) {
    ProfileWifi wifi;
    WifiSettings &s = wifi.settings;
    s.ssid = ui.edtWIFISSID->text();
    s.security = ui.rbWPA->isChecked()   ? WifiSecurity::Wpa
                 : ui.rbWEP->isChecked() ? WifiSecurity::Wep
                                         : WifiSecurity::Open;
    s.wpaTypeIndex = ListIndex(ui.cbbWPAType, wpaType_, 0);
    s.cipherIndex = ListIndex(ui.cbbENType, cipher_, 1);
    s.wepTypeIndex = ListIndex(ui.cbbWEPType, wepType_, 0);
    CheckBytes(s.ssid, QStringLiteral("WIFI SSID"));
    if (s.security != WifiSecurity::Open) {
      const QString key =
          s.security == WifiSecurity::Wpa ? ui.edtWPAPassword->text() : ui.edtWEPPassword->text();
      (s.security == WifiSecurity::Wpa ? s.wpaKey : s.wepKey) = key;
      CheckBytes(key, QStringLiteral("SECRET KEY"));
      // A key read from the environment stays there while it is unchanged.
      const QByteArray variable = keyEnv_.toLocal8Bit();
      if (!keyEnv_.isEmpty() && qEnvironmentVariableIsSet(variable.constData()) &&
          qEnvironmentVariable(variable.constData()) == key)
        wifi.keyEnv = keyEnv_;
    }
    profile.wifi = wifi;
  }
  ProfileBlackMark mark;
  if (in(kMarkMode))
    mark.enabled = markEnabled_;
  const std::tuple<Part, std::optional<int> ProfileBlackMark::*, QLineEdit *, const char *>
      distances[] = {
          {kMarkPitch, &ProfileBlackMark::pitchMm, ui.edtBMLength, "BlackMark Pitch"},
          {kMarkWidth, &ProfileBlackMark::widthMm, ui.edtBMWidth, "BlackMark Width"},
          {kMarkPrint, &ProfileBlackMark::printOffsetMm, ui.edtBMStartAt, "Print After BM"},
          {kMarkCut, &ProfileBlackMark::cutOffsetMm, ui.edtBMCutAt, "Cut After BM"}};
  for (const auto &[part, member, edit, label] : distances)
    if (in(part))
      mark.*member = Field(edit, QString::fromLatin1(label), 0, kMaxBlackMarkMm);
  if (mark != ProfileBlackMark())
    profile.blackMark = mark;
  if (in(kLogos)) {
    QList<ProfileLogo> logos;
    for (const QString &path : form_.logos_.files()) {
      QFile file(path);
      if (!file.open(QIODevice::ReadOnly))
        throw EProfileError(QStringLiteral("LOGO"),
                            QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString()));
      ProfileLogo logo;
      logo.name = LogoSet::DisplayName(path);
      logo.bmp = file.readAll();
      logos << logo;
    }
    profile.logos = logos;
    LogoSet copy = form_.logos_;
    profile.logoData = copy.DownloadStream();
  }
  if (in(kConnection)) {
    ProfileConnection c;
    c.port = ProfileConnection::Port(std::max(0, ui.rgPort->ItemIndex()));
    if (ui.cbbDriver->currentIndex() >= 0)
      c.printer = ui.cbbDriver->currentText();
    if (ui.cbbCOM->currentIndex() >= 0)
      c.serialPort = ui.cbbCOM->currentText();
    c.baudRate = ui.cbbBaudrate->currentText().toInt();
    c.parityIndex = ui.cbbParity->currentIndex();
    c.host = ui.edtETHIP->text();
    c.tcpPort = Field(ui.edtETHPort, QStringLiteral("TCP port"), 1, 65535);
    profile.connection = c;
  }
  return profile;
}

QStringList TProfileControls::Fill(const Profile &profile) {
  Ui::TForm1 &ui = *form_.ui;
  QStringList notes;
  for (const QString &missing : profile.missingLogos)
    notes << QStringLiteral("The logo file was not found (%1).").arg(missing);
  inPlay_.clear();
  markEnabled_.reset();
  speed_.reset();
  wpaType_.reset();
  cipher_.reset();
  wepType_.reset();
  keyEnv_.clear();

  if (const std::optional<BaseSettings> &base = profile.base) {
    ui.cbbCPBR->setCurrentIndex(base->baudRateIndex);
    ui.chkCutter->setChecked(base->cutter);
    ui.chkBuzzer->setChecked(base->buzzer);
    ui.chkDrawer->setChecked(base->drawer);
    ui.cbbCHS->setCurrentIndex(base->charsPerLineIndex);
    ui.cbbDesity->setCurrentIndex(base->densityIndex);
    ui.cbbCodePage->setCurrentIndex(base->codePageIndex);
    ui.cbbCPPARITY->setCurrentIndex(base->parityIndex);
    ui.cbbFont->setCurrentIndex(base->fontIndex);
    ui.chkRePrint->setChecked(base->reprint);
    ui.chkBAP->setChecked(base->buzzAfterPrinting);
    Touch(kBase);
  }
  if (profile.ip) {
    QLineEdit *edits[] = {ui.edtIPAD1, ui.edtIPAD2, ui.edtIPAD3, ui.edtIPAD4};
    for (int i = 0; i < 4; ++i)
      edits[i]->setText(profile.ip->texts[i]);
    Touch(kIp);
  }
  if (profile.mac) {
    QLineEdit *edits[] = {ui.edtMAC1, ui.edtMAC2, ui.edtMAC3, ui.edtMAC4, ui.edtMAC5};
    for (int i = 0; i < 5; ++i)
      edits[i]->setText(profile.mac->texts[i]);
    Touch(kMac);
  }
  if (profile.speedIndex) {
    speed_ = profile.speedIndex;
    Touch(kSpeed);
  }
  if (profile.wifi) {
    const WifiSettings &s = profile.wifi->settings;
    ui.edtWIFISSID->setText(s.ssid);
    (s.security == WifiSecurity::Wpa   ? ui.rbWPA
     : s.security == WifiSecurity::Wep ? ui.rbWEP
                                       : ui.rbNoPassword)
        ->setChecked(true);
    // The other security's controls go back to their start.
    const bool wpa = s.security == WifiSecurity::Wpa;
    const bool wep = s.security == WifiSecurity::Wep;
    wpaType_ = wpa ? s.wpaTypeIndex : 0;
    cipher_ = wpa ? s.cipherIndex : 1;
    wepType_ = wep ? s.wepTypeIndex : 0;
    ui.edtWPAPassword->setText(wpa ? s.wpaKey : QString());
    ui.edtWEPPassword->setText(wep ? s.wepKey : QString());
    keyEnv_ = profile.wifi->keyEnv;
    if (profile.wifi->keyEnvMissing)
      notes << QStringLiteral("The Wi-Fi key is to come from the environment variable %1, "
                              "which is not set; the key was left empty.")
                   .arg(keyEnv_);
    Touch(kWifi);
  }
  if (const std::optional<ProfileBlackMark> &mark = profile.blackMark) {
    if (mark->enabled) {
      markEnabled_ = mark->enabled;
      Touch(kMarkMode);
    }
    const std::tuple<Part, const std::optional<int> &, QLineEdit *> distances[] = {
        {kMarkPitch, mark->pitchMm, ui.edtBMLength},
        {kMarkWidth, mark->widthMm, ui.edtBMWidth},
        {kMarkPrint, mark->printOffsetMm, ui.edtBMStartAt},
        {kMarkCut, mark->cutOffsetMm, ui.edtBMCutAt}};
    for (const auto &[part, value, edit] : distances) {
      if (value) {
        edit->setText(QString::number(*value));
        Touch(part);
      }
    }
  }
  if (profile.logos) {
    FillLogos(*profile.logos, notes);
    Touch(kLogos);
  }
  if (const std::optional<ProfileConnection> &c = profile.connection) {
    const auto pick = [&notes](QComboBox *list, const std::optional<QString> &text,
                               const QString &what) {
      if (!text)
        return;
      const int index = list->findText(*text, Qt::MatchExactly);
      if (index >= 0)
        list->setCurrentIndex(index);
      else
        notes << QStringLiteral("%1 '%2' is not listed on this machine.").arg(what, *text);
    };
    pick(ui.cbbDriver, c->printer, QStringLiteral("The printer"));
    pick(ui.cbbCOM, c->serialPort, QStringLiteral("The serial port"));
    if (c->baudRate)
      ui.cbbBaudrate->setCurrentIndex(ui.cbbBaudrate->findText(QString::number(*c->baudRate)));
    if (c->parityIndex)
      ui.cbbParity->setCurrentIndex(*c->parityIndex);
    if (c->host)
      ui.edtETHIP->setText(*c->host);
    if (c->tcpPort)
      ui.edtETHPort->setText(QString::number(*c->tcpPort));
    // As the user's choice: a change closes the open channel.
    if (ui.rgPort->ItemIndex() != int(c->port)) {
      ui.rgPort->SetItemIndex(int(c->port));
      form_.rgPortClick();
    }
    Touch(kConnection);
  }
  PutListsBack();
  return notes;
}

void TProfileControls::FillLogos(const QList<ProfileLogo> &logos, QStringList &notes) {
  Ui::TForm1 &ui = *form_.ui;
  form_.logos_ = LogoSet();
  ui.lstLOGOList->clear();
  embedded_ = std::make_unique<QTemporaryDir>();
  for (qsizetype i = 0; i < logos.size(); ++i) {
    const ProfileLogo &logo = logos[i];
    QString path = logo.path;
    if (logo.embedded()) {
      // The list holds files: an embedded logo gets one of its own, named
      // as the profile names it, in a folder per entry.
      const QString folder = embedded_->filePath(QString::number(i));
      QDir().mkpath(folder);
      path = QDir(folder).filePath(SafeName(logo.displayName(), i));
      QFile file(path);
      if (!file.open(QIODevice::WriteOnly) || file.write(logo.bmp) != logo.bmp.size()) {
        notes << QStringLiteral("The embedded logo %1 could not be stored: %2")
                     .arg(i + 1)
                     .arg(file.errorString());
        continue;
      }
    }
    const LogoSet::Change change = form_.logos_.Add(path);
    if (!change.changed)
      continue;
    ui.lstLOGOList->addItem(LogoSet::DisplayName(path));
    form_.ApplyLogoChange(change);
  }
  ui.lblLOGOSIZE->setText(form_.logos_.SpaceLabel());
}

void TProfileControls::PutListsBack() {
  Ui::TForm1 &ui = *form_.ui;
  const std::pair<QComboBox *, const std::optional<int> &> lists[] = {{ui.cbbSpeed, speed_},
                                                                      {ui.cbbWPAType, wpaType_},
                                                                      {ui.cbbENType, cipher_},
                                                                      {ui.cbbWEPType, wepType_}};
  for (const auto &[list, value] : lists)
    if (value && *value < list->count())
      list->setCurrentIndex(*value);
}

void TProfileControls::ShowName(const QString &name) {
  if (nameLabel_ == nullptr) {
    nameLabel_ = new QLabel(form_.ui->statAll);
    nameLabel_->setObjectName(QStringLiteral("statAllProfile"));
    form_.ui->statAll->addPermanentWidget(nameLabel_);
  }
  nameLabel_->setText(name);
  nameLabel_->setVisible(!name.isEmpty());
}

// ---- sending ----

void TProfileControls::Send() {
  if (sending_)
    return;
  if (form_.transfer_->Running()) {
    form_.ShowBox(form_.transfer_->RunningText() + QStringLiteral(" Wait until it has ended."),
                  kSendCaption, MsgIcon::Error);
    return;
  }
  Profile profile;
  try {
    profile = Read(QString());
  } catch (const EProfileError &e) {
    form_.ShowBox(e.message() + QLatin1Char('.'), kSendCaption, MsgIcon::Error);
    return;
  }
  SendRun run;
  run.sections = BuildProfileSections(profile);
  if (run.sections.empty()) {
    form_.ShowBox(QStringLiteral("The window holds nothing to send."), kSendCaption,
                  MsgIcon::Error);
    return;
  }
  if (!form_.ActiveChannels().any()) {
    form_.SetStatusText(OutcomeText(DispatchOutcome::NoChannel));
    QStringList lines{OutcomeText(DispatchOutcome::NoChannel)};
    for (const ProfileSection &section : run.sections)
      lines << section.name + QStringLiteral(": not sent");
    form_.ShowBox(lines.join(QLatin1Char('\n')), kSendCaption, MsgIcon::Error);
    return;
  }
  sending_ = std::move(run);
  Continue();
}

void TProfileControls::Continue() {
  try {
    while (sending_->next < sending_->sections.size()) {
      const ProfileSection &section = sending_->sections[sending_->next++];
      const QString name = section.name + QStringLiteral(": ");
      if (sending_->failed) {
        sending_->lines << name + QStringLiteral("not sent");
        continue;
      }
      const ChannelState state = form_.ActiveChannels();
      if (section.name != QLatin1String("logos")) {
        const DispatchOutcome outcome = form_.Dispatch(section.sequences, false);
        sending_->lines << name + OutcomeText(outcome);
        sending_->failed = outcome != DispatchOutcome::Complete;
        continue;
      }
      // The logos go as the "Download" button sends them.
      StreamAction action = StreamAction::LogoDownload();
      action.confirmsWithBox = false;
      const QByteArray &stream = section.sequences.front().bytes;
      bool sent = false;
      if (state.spoolerSelected) {
        QBuffer copy;
        copy.setData(stream);
        copy.open(QIODevice::ReadOnly);
        form_.BeginSpoolerAction();
        sent = SendRawStream(*form_.spooler_, form_.SelectedPrinter(), action.documentName, copy);
        form_.ReportUnsettledJobs();
      }
      if (state.tcpConnected) {
        // The sections after the logos wait until the printer has them all.
        transferDone_ =
            connect(&form_.clntsckt1->Socket(), &TCustomWinSocket::StreamFinished, this,
                    [this, sent, name](bool delivered, qint64, qint64) {
                      QObject::disconnect(transferDone_);
                      sending_->lines
                          << name + OutcomeText(sent || delivered ? DispatchOutcome::Complete
                                                                  : DispatchOutcome::SendFailed);
                      sending_->failed = !(sent || delivered);
                      // The transfer's end is reported from inside the connection's
                      // own work; the rest goes on once that has returned.
                      QTimer::singleShot(0, this, [this] {
                        Guarded(*form_.services_.boxes, &form_, [this] { Continue(); });
                      });
                    });
        if (form_.StartTransfer(action, stream))
          return;
        QObject::disconnect(transferDone_);
      }
      if (state.serialOpen && !state.spoolerSelected && !state.tcpConnected) {
        sending_->lines << name + QStringLiteral("Can not Use COM Port !");
        continue;
      }
      sending_->lines << name + OutcomeText(sent ? DispatchOutcome::Complete
                                                 : DispatchOutcome::SendFailed);
      sending_->failed = !sent;
    }
  } catch (...) {
    // A send that aborted ends the whole profile; what went out is listed.
    sending_.reset();
    throw;
  }
  Finish();
}

void TProfileControls::Finish() {
  const SendRun run = std::move(*sending_);
  sending_.reset();
  const bool complete =
      !run.failed &&
      !run.lines.join(QLatin1Char('\n')).contains(QStringLiteral("Can not Use COM Port !"));
  form_.SetStatusText(
      OutcomeText(complete ? DispatchOutcome::Complete : DispatchOutcome::SendFailed));
  form_.ShowBox(run.lines.join(QLatin1Char('\n')), kSendCaption,
                complete ? MsgIcon::Information : MsgIcon::Error);
  form_.AskPrinterState();
}

} // namespace pellicar
