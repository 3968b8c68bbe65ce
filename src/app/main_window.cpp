#include "app/main_window.h"

#include "app/error_handler.h"
#include "app/file_dialogs.h"
#include "app/menu_bar.h"
#include "app/profile_controls.h"
#include "profile/profile_writer.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLayout>
#include <QMenu>
#include <QSettings>

namespace pellicar {

namespace {

const QString kProfileFilter = QStringLiteral("Profiles (*.json);;All files (*)");
const QString kRecentKey = QStringLiteral("recentProfiles");

QString Sentence(const QString &text) {
  return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

} // namespace

TMainWindow::TMainWindow(FormServices services, QString recentFile, QWidget *parent)
    : QMainWindow(parent), services_(services), recentFile_(std::move(recentFile)) {
  form_ = new TForm1(std::move(services), this);
  setCentralWidget(form_);
  menu_ = new TMenuBar(this);
  setMenuBar(menu_);
  profile_ = std::make_unique<TProfileControls>(*form_);
  setWindowTitle(form_->windowTitle());
  setWindowIcon(form_->windowIcon());
  // The form is 432 × 450 whatever happens; the window is that and the menu.
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  const auto guarded = [this](void (TMainWindow::*handler)()) {
    return [this, handler] { Guarded(*services_.boxes, this, [&] { (this->*handler)(); }); };
  };
  connect(menu_->OpenProfile(), &QAction::triggered, this, guarded(&TMainWindow::OpenProfileClick));
  connect(menu_->SaveProfile(), &QAction::triggered, this, guarded(&TMainWindow::SaveProfileClick));
  connect(menu_->SendProfile(), &QAction::triggered, this, guarded(&TMainWindow::SendProfileClick));
  connect(menu_->Quit(), &QAction::triggered, this, &QWidget::close);
  // The form's own printer actions: its state now, and finding printers.
  menu_->PrinterMenu()->addSeparator();
  menu_->PrinterMenu()->addAction(form_->PrinterStatusAction());
  menu_->PrinterMenu()->addAction(form_->FindPrintersAction());

  if (!recentFile_.isEmpty())
    recent_ = QSettings(recentFile_, QSettings::IniFormat).value(kRecentKey).toStringList();
  recent_ = recent_.mid(0, kMaxRecent);
  ShowRecent();
}

TMainWindow::~TMainWindow() = default;

QStringList TMainWindow::RecentProfiles() const { return recent_; }

void TMainWindow::closeEvent(QCloseEvent *event) {
  // The form asks while a transfer runs; "No" keeps the window.
  if (form_->close())
    event->accept();
  else
    event->ignore();
}

void TMainWindow::Box(const QString &text, const QString &caption, MsgIcon icon) {
  services_.boxes->Show(form_, {text, caption, icon, MsgButtons::Ok, MsgModality::Owner});
}

void TMainWindow::OpenProfileClick() {
  FileDialogRequest request;
  request.title = QStringLiteral("Open Profile");
  request.filter = kProfileFilter;
  const QString path = services_.fileDialogs->OpenFile(this, request);
  if (!path.isEmpty())
    OpenProfile(path);
}

void TMainWindow::OpenProfile(const QString &path) {
  const QString caption = QStringLiteral("Open Profile");
  Profile profile;
  try {
    ProfileReadOptions options;
    options.requireKeyEnv = false;
    options.skipMissingLogos = true;
    profile = ReadProfileFile(path, {}, options);
  } catch (const EProfileError &e) {
    // The file named once: a file that cannot be read names itself.
    const QString text = e.message().startsWith(path)
                             ? e.message()
                             : QFileInfo(path).fileName() + QStringLiteral(": ") + e.message();
    Box(Sentence(text), caption, MsgIcon::Error);
    if (!QFileInfo::exists(path) && recent_.removeAll(QFileInfo(path).absoluteFilePath()) > 0)
      Remember(QString());
    return;
  }
  const QStringList notes = profile_->Fill(profile);
  profileName_ = profile.name.isEmpty() ? QFileInfo(path).completeBaseName() : profile.name;
  profile_->ShowName(profileName_);
  Remember(QFileInfo(path).absoluteFilePath());
  if (!notes.isEmpty())
    Box(notes.join(QLatin1Char('\n')), caption, MsgIcon::Warning);
}

void TMainWindow::SaveProfileClick() {
  const QString caption = QStringLiteral("Save Profile");
  Profile profile;
  try {
    // Every field is read before a file is chosen: a bad one writes nothing.
    profile = profile_->Read(profileName_);
  } catch (const EProfileError &e) {
    Box(Sentence(e.message()), caption, MsgIcon::Error);
    return;
  }
  FileDialogRequest request;
  request.title = caption;
  request.filter = kProfileFilter;
  request.mustExist = false;
  QString path = services_.fileDialogs->SaveFile(this, request);
  if (path.isEmpty())
    return;
  if (QFileInfo(path).suffix().isEmpty())
    path += QStringLiteral(".json");
  if (profile.name.isEmpty())
    profile.name = QFileInfo(path).completeBaseName();
  if (const std::optional<QString> failure = WriteProfileFile(path, profile)) {
    Box(Sentence(QStringLiteral("%1 was not written: %2").arg(path, *failure)), caption,
        MsgIcon::Error);
    return;
  }
  profileName_ = profile.name;
  profile_->ShowName(profileName_);
  Remember(QFileInfo(path).absoluteFilePath());
}

void TMainWindow::SendProfileClick() { profile_->Send(); }

void TMainWindow::Remember(const QString &path) {
  if (!path.isEmpty()) {
    recent_.removeAll(path);
    recent_.prepend(path);
    recent_ = recent_.mid(0, kMaxRecent);
  }
  if (!recentFile_.isEmpty()) {
    QSettings settings(recentFile_, QSettings::IniFormat);
    settings.setValue(kRecentKey, recent_);
  }
  ShowRecent();
}

void TMainWindow::ShowRecent() {
  menu_->SetRecent(recent_, [this](const QString &path) {
    Guarded(*services_.boxes, this, [&] { OpenProfile(path); });
  });
}

} // namespace pellicar
