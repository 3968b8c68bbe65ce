#include "app/main_form.h"

#include "app/error_handler.h"
#include "app/message_box.h"
#include "commands/code_page_table.h"
#include "platform/printer_list.h"
#include "platform/serial_port_list.h"
#include "ui_main_form.h"

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

  ui->setupUi(this);
  setFixedSize(432, 450);
  ui->rgPort->AdoptItems();

  statusPanel_ = new QLabel(ui->statAll);
  statusPanel_->setObjectName(QStringLiteral("statAllPanel0"));
  ui->statAll->addWidget(statusPanel_, 1);

  ui->cbbCodePage->setItemDelegate(new FixedHeightDelegate(16, ui->cbbCodePage));
  ui->cbbCodePage->view()->setItemDelegate(ui->cbbCodePage->itemDelegate());

  tmr1 = new QTimer(this);
  tmr1->setObjectName(QStringLiteral("tmr1"));
  tmr1->setInterval(1000);
  connect(tmr1, &QTimer::timeout, this, [this] { RunGuarded(&TForm1::tmr1Timer); });
  connect(ui->pgcFunction, &QTabWidget::currentChanged, this,
          [this] { RunGuarded(&TForm1::pgcFunctionChange); });

  RunGuarded(&TForm1::FormCreate);
  tmr1->start();
}

TForm1::~TForm1() { FormDestroy(); }

QString TForm1::StatusText() const { return statusPanel_->text(); }

void TForm1::SetStatusText(const QString &text) { statusPanel_->setText(text); }

QString TForm1::ClockText(const QDateTime &moment) {
  return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void TForm1::Bind(QAbstractButton *button, void (TForm1::*handler)()) {
  connect(button, &QAbstractButton::clicked, this, [this, handler] { RunGuarded(handler); });
}

void TForm1::RunGuarded(void (TForm1::*handler)()) {
  Guarded(*services_.boxes, this, [this, handler] { (this->*handler)(); });
}

void TForm1::FormCreate() {
  logoFiles_.clear();
  logoData_.clear();

  SetStatusText(ClockText(services_.now()));

  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsBase), QStringLiteral(" Base "));
  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsEhternet),
                              QStringLiteral(" Ethernet "));
  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsWIFI), QStringLiteral(" WIFI "));
  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsBlackMark),
                              QStringLiteral(" BlackMark "));
  ui->pgcFunction->setTabText(ui->pgcFunction->indexOf(ui->tsUpdate),
                              QStringLiteral(" Download "));

  QStringList ports;
  ListSerialPorts(ports, services_.sysfsRoot);
  refill(ui->cbbCOM, ports, ports.isEmpty() ? -1 : 0);

  const QStringList printers = services_.listPrinters();
  refill(ui->cbbDriver, printers, printers.isEmpty() ? -1 : 0);

  QStringList codePages;
  for (const CodePage &page : kCodePages)
    codePages.append(page.displayName());
  refill(ui->cbbCodePage, codePages, 0);

  refill(ui->cbbDesity, {QStringLiteral("Normal"), QStringLiteral("Dark")}, 0);
  refill(ui->cbbCHS, {QStringLiteral("48"), QStringLiteral("40")}, 0);
}

void TForm1::FormDestroy() {
  firmwareImage_.clear();
  logoData_.clear();
  logoFiles_.clear();
}

void TForm1::pgcFunctionChange() {
  refill(ui->cbbSpeed,
         {QStringLiteral("Auto Negotiation"), QStringLiteral("100M Full Duplex"),
          QStringLiteral("100M Half Duplex"), QStringLiteral("10M Full Duplex"),
          QStringLiteral("10M Half Duplex")},
         0);
  refill(ui->cbbWPAType, {QStringLiteral("WPA-PSK"), QStringLiteral("WPA2-PSK")}, 0);
  refill(ui->cbbENType, {QStringLiteral("TPIK"), QStringLiteral("AES")}, 1);
  refill(ui->cbbWEPType, {QStringLiteral("OPEN"), QStringLiteral("SHARE")}, 0);
}

void TForm1::tmr1Timer() { SetStatusText(ClockText(services_.now())); }

} // namespace pellicar
