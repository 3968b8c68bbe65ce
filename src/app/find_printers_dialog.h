#pragma once

#include "discovery/local_devices.h"
#include "discovery/network_scan.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace pellicar {

// One thing the dialog found.
struct FoundPrinter {
  enum class Kind { Queue, Serial, Usb, Network };
  Kind kind = Kind::Network;
  QString name;        // queue name, port or device path, dotted address
  quint16 port = 0;    // Network
  QString state;       // as listed
  bool usable = true;  // the window can open it (not a USB device file)
  quint32 address = 0; // Network, host byte order
};

// Printers → "Find Printers…": lists the print queues, serial ports, USB
// printer devices and the printers answering in a range the user edits.
// Nothing is looked at until "Find" is pressed. The network is scanned on
// the event loop (TNetworkScan); the machine's own devices are listed on
// a thread of the dialog's, since asking a USB device blocks for up to its
// answer bounds. Progress shows in a bar; "Stop" ends a scan under way.
// Choosing an entry ("Use", or a double click) raises Chosen and closes
// the dialog.
//
// Main thread. Destroying the dialog stops a scan under way; it waits at
// most for the one question the device thread is asking.
class TFindPrintersDialog : public QDialog {
  Q_OBJECT
public:
  // `range` starts the range field ("192.168.1.0/24"), `port` the port's.
  TFindPrintersDialog(const QString &range, quint16 port, LocalDeviceOptions options,
                      QWidget *parent = nullptr);
  ~TFindPrintersDialog() override;

  // "Find": starts a scan over the range as the field holds it. A range
  // that does not read is said in the dialog's line, and nothing starts.
  void Find();
  // "Stop".
  void Stop();
  bool Running() const { return localRunning_ || (scan_ && scan_->Running()); }
  const std::vector<FoundPrinter> &Entries() const { return entries_; }

signals:
  void Chosen(const pellicar::FoundPrinter &entry);
  // A Find has ended (done, stopped, or limited).
  void FindEnded();

private:
  void LocalDone(const LocalDevices &devices);
  void AddEntry(const FoundPrinter &entry, const QString &kindText, const QString &tip = {});
  void Advance();
  void EndIfDone();
  void Use();
  void JoinLocal();

  LocalDeviceOptions options_;
  QLineEdit *range_;
  QLineEdit *port_;
  QPushButton *find_;
  QPushButton *stop_;
  QPushButton *use_;
  QProgressBar *progress_;
  QLabel *line_;
  QTreeWidget *list_;

  std::vector<FoundPrinter> entries_;
  std::unique_ptr<TNetworkScan> scan_;
  ScanSummary summary_;
  int scanDone_ = 0; // addresses whose probe ended
  bool localRunning_ = false;
  std::thread local_;
  std::shared_ptr<std::atomic<bool>> cancel_;
};

} // namespace pellicar
