#pragma once

#include <QMenuBar>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;

namespace pellicar {

// The window's menu bar, above the controls' 432 × 450 area:
//   File     "Open Profile…" (Ctrl+O), "Save Profile…" (Ctrl+S),
//            "Recent Profiles" ▸, "Quit" (Ctrl+Q)
//   Printer  "Send Profile"
// It holds the actions only; the window connects them. Further printer
// actions are added to PrinterMenu(). Main thread only.
class TMenuBar : public QMenuBar {
public:
  explicit TMenuBar(QWidget *parent = nullptr);

  QMenu *FileMenu() const { return file_; }
  QMenu *PrinterMenu() const { return printer_; }
  QMenu *RecentMenu() const { return recent_; }

  QAction *OpenProfile() const { return open_; }
  QAction *SaveProfile() const { return save_; }
  QAction *Quit() const { return quit_; }
  QAction *SendProfile() const { return send_; }

  // Lists `paths` (newest first) under "Recent Profiles"; choosing one calls
  // `open` with its path. An empty list leaves the submenu disabled.
  void SetRecent(const QStringList &paths, const std::function<void(const QString &)> &open);

private:
  QMenu *file_;
  QMenu *printer_;
  QMenu *recent_;
  QAction *open_;
  QAction *save_;
  QAction *quit_;
  QAction *send_;
};

} // namespace pellicar
