#pragma once

#include "app/main_form.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

namespace pellicar {

class TMenuBar;
class TProfileControls;

// The program's top-level window: the menu bar above the main form, whose
// 432 × 450 area keeps every control where it stands. It carries the
// form's title and icon and asks the form before it closes. The File menu
// opens and saves profiles; the Printer menu sends the open one, asks the
// printer's state ("Printer Status") and finds printers ("Find Printers…"). Main
// thread only.
class TMainWindow : public QMainWindow {
public:
  // `recentFile`: where the list of recent profiles is kept (an INI file,
  // made when first needed); empty: the list lives only as long as the
  // window. The window's controls start with their defaults whatever the
  // list holds.
  TMainWindow(FormServices services, QString recentFile, QWidget *parent = nullptr);
  ~TMainWindow() override;

  TForm1 &Form() const { return *form_; }
  TMenuBar &Menu() const { return *menu_; }

  // "Open Profile…" for a known path (the recent list uses it): reads and
  // checks the file, fills the controls, shows what could not be taken.
  // A profile that does not pass is shown in a box and changes nothing.
  void OpenProfile(const QString &path);

  // The open profile's name ("" while none is open).
  const QString &ProfileName() const { return profileName_; }

  // The most recent profiles kept, newest first.
  static constexpr int kMaxRecent = 8;
  QStringList RecentProfiles() const;

protected:
  void closeEvent(QCloseEvent *event) override;

private:
  void OpenProfileClick();
  void SaveProfileClick();
  void SendProfileClick();
  void Remember(const QString &path);
  void ShowRecent();
  void Box(const QString &text, const QString &caption, MsgIcon icon);

  FormServices services_;
  QString recentFile_;
  QStringList recent_;
  TForm1 *form_;
  TMenuBar *menu_;
  // Destroyed before the form, which it hooks into.
  std::unique_ptr<TProfileControls> profile_;
  QString profileName_;
};

} // namespace pellicar
