#include "app/menu_bar.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>

namespace pellicar {

namespace {

QAction *Action(QMenu *menu, const QString &text, const char *name,
                const QKeySequence &shortcut = {}) {
  QAction *action = menu->addAction(text);
  action->setObjectName(QString::fromLatin1(name));
  action->setShortcut(shortcut);
  return action;
}

} // namespace

TMenuBar::TMenuBar(QWidget *parent) : QMenuBar(parent) {
  setObjectName(QStringLiteral("mnuMain"));
  file_ = addMenu(QStringLiteral("&File"));
  file_->setObjectName(QStringLiteral("mnuFile"));
  open_ = Action(file_, QStringLiteral("&Open Profile\u2026"), "actOpenProfile",
                 QKeySequence(Qt::CTRL | Qt::Key_O));
  save_ = Action(file_, QStringLiteral("&Save Profile\u2026"), "actSaveProfile",
                 QKeySequence(Qt::CTRL | Qt::Key_S));
  recent_ = file_->addMenu(QStringLiteral("&Recent Profiles"));
  recent_->setObjectName(QStringLiteral("mnuRecentProfiles"));
  recent_->setEnabled(false);
  file_->addSeparator();
  quit_ = Action(file_, QStringLiteral("&Quit"), "actQuit", QKeySequence(Qt::CTRL | Qt::Key_Q));

  printer_ = addMenu(QStringLiteral("&Printer"));
  printer_->setObjectName(QStringLiteral("mnuPrinter"));
  send_ = Action(printer_, QStringLiteral("Send &Profile"), "actSendProfile");
}

void TMenuBar::SetRecent(const QStringList &paths,
                         const std::function<void(const QString &)> &open) {
  recent_->clear();
  for (qsizetype i = 0; i < paths.size(); ++i) {
    const QString path = paths[i];
    // "&1 shop.json" with the whole path as its tip.
    QAction *action =
        recent_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
    action->setToolTip(path);
    action->setStatusTip(path);
    action->setData(path);
    connect(action, &QAction::triggered, this, [open, path] { open(path); });
  }
  recent_->setEnabled(!paths.isEmpty());
}

} // namespace pellicar
