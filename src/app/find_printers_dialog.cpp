#include "app/find_printers_dialog.h"

#include "discovery/address_range.h"
#include "discovery/discovery_report.h"
#include "discovery/status_text.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>

namespace pellicar {

TFindPrintersDialog::TFindPrintersDialog(const QString &range, quint16 port,
                                         LocalDeviceOptions options, QWidget *parent)
    : QDialog(parent), options_(std::move(options)) {
  setObjectName(QStringLiteral("dlgFindPrinters"));
  setWindowTitle(QStringLiteral("Find Printers"));
  range_ = new QLineEdit(range, this);
  range_->setObjectName(QStringLiteral("edtFindRange"));
  range_->setToolTip(QStringLiteral("192.168.1.0/24, 10.0.0.10-10.0.0.60 or one address; "
                                    "several apart by blanks; at most %1 addresses")
                         .arg(kMaxScanAddresses));
  port_ = new QLineEdit(QString::number(port), this);
  port_->setObjectName(QStringLiteral("edtFindPort"));
  port_->setMaximumWidth(60);
  find_ = new QPushButton(QStringLiteral("Find"), this);
  find_->setObjectName(QStringLiteral("btnFind"));
  find_->setDefault(true);
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  stop_->setObjectName(QStringLiteral("btnFindStop"));
  stop_->setEnabled(false);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("prgFind"));
  progress_->setValue(0);
  line_ = new QLabel(QStringLiteral("Press Find to look for printers."), this);
  line_->setObjectName(QStringLiteral("lblFindState"));
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("lstFound"));
  list_->setHeaderLabels(
      {QStringLiteral("Kind"), QStringLiteral("Printer"), QStringLiteral("State")});
  list_->setRootIsDecorated(false);
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  use_ = new QPushButton(QStringLiteral("Use"), this);
  use_->setObjectName(QStringLiteral("btnFindUse"));
  use_->setEnabled(false);
  auto *close = new QPushButton(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("btnFindClose"));

  auto *grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QStringLiteral("Range:"), this), 0, 0);
  grid->addWidget(range_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Port:"), this), 0, 2);
  grid->addWidget(port_, 0, 3);
  grid->addWidget(find_, 0, 4);
  grid->addWidget(progress_, 1, 0, 1, 4);
  grid->addWidget(stop_, 1, 4);
  grid->addWidget(line_, 2, 0, 1, 5);
  grid->addWidget(list_, 3, 0, 1, 5);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(use_);
  buttons->addWidget(close);
  grid->addLayout(buttons, 4, 0, 1, 5);
  resize(520, 360);

  connect(find_, &QPushButton::clicked, this, &TFindPrintersDialog::Find);
  connect(stop_, &QPushButton::clicked, this, &TFindPrintersDialog::Stop);
  connect(use_, &QPushButton::clicked, this, &TFindPrintersDialog::Use);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &TFindPrintersDialog::Use);
  connect(list_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
    const int index = item ? item->data(0, Qt::UserRole).toInt() : -1;
    use_->setEnabled(index >= 0 && entries_[size_t(index)].usable);
  });
}

TFindPrintersDialog::~TFindPrintersDialog() {
  if (scan_)
    scan_->disconnect(this);
  JoinLocal();
}

void TFindPrintersDialog::JoinLocal() {
  if (cancel_)
    cancel_->store(true);
  if (local_.joinable())
    local_.join();
}

void TFindPrintersDialog::Find() {
  if (Running())
    return;
  std::vector<quint32> addresses;
  const QStringList ranges =
      range_->text().split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
  bool portOk = false;
  const uint port = port_->text().trimmed().toUInt(&portOk);
  try {
    addresses = ParseAddressRanges(ranges);
  } catch (const ERangeError &e) {
    line_->setText(e.message());
    return;
  }
  if (!portOk || port == 0 || port > 65535) {
    line_->setText(QStringLiteral("'%1' is not a port (1 to 65535)").arg(port_->text()));
    return;
  }
  JoinLocal(); // the thread of the last Find has posted its result already
  entries_.clear();
  list_->clear();
  use_->setEnabled(false);
  summary_ = ScanSummary();
  scanDone_ = 0;
  progress_->setRange(0, int(addresses.size()) + 1); // + this machine's devices
  progress_->setValue(0);
  line_->setText(QStringLiteral("Looking..."));
  find_->setEnabled(false);
  stop_->setEnabled(true);

  localRunning_ = true;
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  local_ = std::thread([this, options = options_, cancel = cancel_] {
    const LocalDevices devices = FindLocalDevices(options, cancel.get());
    // The destructor joins this thread before the dialog goes, and a
    // posted call to an object destroyed later is dropped with it.
    QMetaObject::invokeMethod(
        this, [this, devices] { LocalDone(devices); }, Qt::QueuedConnection);
  });

  scan_.reset();
  if (!addresses.empty()) {
    scan_ = std::make_unique<TNetworkScan>(std::move(addresses), quint16(port));
    connect(scan_.get(), &TNetworkScan::Progress, this, [this](int done) {
      scanDone_ = done;
      Advance();
    });
    connect(scan_.get(), &TNetworkScan::Found, this, [this](const NetworkFinding &finding) {
      FoundPrinter entry{FoundPrinter::Kind::Network,
                         DottedAddress(finding.address),
                         finding.port,
                         finding.status ? StateText(*finding.status) : finding.note,
                         true,
                         finding.address};
      AddEntry(entry, finding.printer ? QStringLiteral("Network printer")
                                      : QStringLiteral("Network port"));
    });
    connect(scan_.get(), &TNetworkScan::Finished, this, [this](const ScanSummary &summary) {
      summary_ = summary;
      EndIfDone();
    });
    scan_->Start();
  }
}

void TFindPrintersDialog::Stop() {
  if (cancel_)
    cancel_->store(true);
  if (scan_)
    scan_->Cancel();
}

void TFindPrintersDialog::Advance() { progress_->setValue((localRunning_ ? 0 : 1) + scanDone_); }

void TFindPrintersDialog::LocalDone(const LocalDevices &devices) {
  localRunning_ = false;
  if (devices.queues)
    for (const PrintQueueInfo &queue : *devices.queues)
      AddEntry({FoundPrinter::Kind::Queue, queue.name, 0, QueueStateText(queue), true},
               QStringLiteral("Print queue"), queue.deviceUri);
  for (const SerialPortEntry &port : devices.serialPorts)
    AddEntry({FoundPrinter::Kind::Serial, port.path, 0, port.byId.join(QStringLiteral(" ")), true},
             QStringLiteral("Serial port"));
  for (const UsbDeviceEntry &device : devices.usbDevices)
    AddEntry({FoundPrinter::Kind::Usb, device.path, 0,
              device.status ? StateText(*device.status) : device.note, false},
             QStringLiteral("USB device"),
             QStringLiteral("The window cannot open a device file: use pellicar-cli --device"));
  EndIfDone();
}

void TFindPrintersDialog::AddEntry(const FoundPrinter &entry, const QString &kindText,
                                   const QString &tip) {
  entries_.push_back(entry);
  QString name = entry.name;
  if (entry.kind == FoundPrinter::Kind::Network)
    name += QStringLiteral(":%1").arg(entry.port);
  auto *item = new QTreeWidgetItem({kindText, name, entry.state});
  item->setData(0, Qt::UserRole, int(entries_.size() - 1));
  // Network entries come in as they answer; they are listed by address.
  int at = list_->topLevelItemCount();
  if (entry.kind == FoundPrinter::Kind::Network)
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
      const FoundPrinter &other =
          entries_[size_t(list_->topLevelItem(i)->data(0, Qt::UserRole).toInt())];
      if (other.kind == FoundPrinter::Kind::Network && other.address > entry.address) {
        at = i;
        break;
      }
    }
  list_->insertTopLevelItem(at, item);
  item->setToolTip(1, tip);
  if (!entry.usable)
    item->setForeground(1, palette().brush(QPalette::Disabled, QPalette::Text));
}

void TFindPrintersDialog::EndIfDone() {
  Advance();
  if (Running())
    return;
  find_->setEnabled(true);
  stop_->setEnabled(false);
  QString text;
  if (scan_) {
    text = QStringLiteral("%1 of %2 addresses in %3 s: %4 printers")
               .arg(summary_.finished)
               .arg(summary_.total)
               .arg(QString::number(double(summary_.elapsedMs) / 1000.0, 'f', 1))
               .arg(summary_.printers);
    if (summary_.cancelled)
      text += QStringLiteral(" (stopped)");
    else if (summary_.limitReached)
      text += QStringLiteral(" (the scan's time limit ran out)");
  } else {
    text = QStringLiteral("This machine's queues, ports and devices (no range given)");
  }
  line_->setText(text);
  emit FindEnded();
}

void TFindPrintersDialog::Use() {
  QTreeWidgetItem *item = list_->currentItem();
  if (!item)
    return;
  const FoundPrinter &entry = entries_[size_t(item->data(0, Qt::UserRole).toInt())];
  if (!entry.usable)
    return;
  emit Chosen(entry);
  accept();
}

} // namespace pellicar
