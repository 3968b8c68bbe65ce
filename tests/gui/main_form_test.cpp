#include "app/main_form.h"
#include "app/radio_group.h"
#include "support/recording_dialogs.h"
#include "support/wait.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace pellicar {
namespace {

class MainFormTest : public ::testing::Test {
protected:
  void SetUp() override { sysfs.reset(new QTemporaryDir); }

  TForm1 &form() {
    if (!form_) {
      FormServices services;
      services.boxes = &boxes;
      services.fileDialogs = &files;
      services.listPrinters = [this] { return printers; };
      services.sysfsRoot = sysfs->path();
      if (now)
        services.now = now;
      form_ = std::make_unique<TForm1>(services);
    }
    return *form_;
  }

  template <typename T> T *get(const char *name) {
    T *widget = form().findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  void addSerialPort(const char *name) {
    QDir(sysfs->path()).mkpath(QStringLiteral("class/tty/%1/device").arg(QLatin1String(name)));
  }

  QStringList items(const char *combo) {
    QStringList result;
    if (auto *c = get<QComboBox>(combo))
      for (int i = 0; i < c->count(); ++i)
        result.append(c->itemText(i));
    return result;
  }

  test::RecordingMessageBoxes boxes;
  test::ScriptedFileDialogs files;
  QStringList printers;
  std::unique_ptr<QTemporaryDir> sysfs;
  std::function<QDateTime()> now;
  std::unique_ptr<TForm1> form_;
};

// ---- the window and its regions ----

TEST_F(MainFormTest, WindowHasItsCaptionFixedSizeAndRegions) {
  TForm1 &w = form();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Pellicar  V1.83  Beta"));
  EXPECT_EQ(w.size(), QSize(432, 450));
  EXPECT_EQ(w.minimumSize(), QSize(432, 450));
  EXPECT_EQ(w.maximumSize(), QSize(432, 450));
  // The icon of the menu entry, rendered into the program at both sizes.
  const QList<QSize> iconSizes = w.windowIcon().availableSizes();
  EXPECT_TRUE(iconSizes.contains(QSize(48, 48)) && iconSizes.contains(QSize(256, 256)))
      << iconSizes.size();

  struct Region {
    const char *name;
    QRect geometry;
  };
  const Region regions[] = {{"rgPort", {8, 0, 97, 129}},
                            {"grpPortPARA", {112, 0, 313, 129}},
                            {"pgcFunction", {8, 136, 417, 281}},
                            {"statAll", {8, 423, 417, 23}}};
  for (const Region &r : regions) {
    if (QWidget *widget = get<QWidget>(r.name)) {
      EXPECT_EQ(widget->geometry(), r.geometry) << r.name;
    }
  }
  EXPECT_EQ(get<QGroupBox>("rgPort")->title(), QStringLiteral("Port"));
  EXPECT_EQ(get<QGroupBox>("grpPortPARA")->title(), QStringLiteral("Parameter"));
}

TEST_F(MainFormTest, PortGroupStartsOnTheSpoolerWithBothChannelButtonsDisabled) {
  auto *port = get<TRadioGroup>("rgPort");
  EXPECT_EQ(port->Items(),
            (QStringList{QStringLiteral("Driver\uFF1A"), QStringLiteral("COM Port\uFF1A"),
                         QStringLiteral("Ethernet \uFF1A")}));
  EXPECT_EQ(port->ItemIndex(), 0);
  EXPECT_FALSE(get<QPushButton>("btnOpenCOM")->isEnabled());
  EXPECT_FALSE(get<QPushButton>("btnConnect")->isEnabled());
  EXPECT_TRUE(get<QPushButton>("btnHelp")->isEnabled());
}

TEST_F(MainFormTest, TabsCarryTheirStartUpCaptionsAndTheBaseTabIsShown) {
  auto *tabs = get<QTabWidget>("pgcFunction");
  const char *pages[] = {"tsBase", "tsEhternet", "tsWIFI", "tsBlackMark", "tsUpdate"};
  const char *captions[] = {" Base ", " Ethernet ", " WIFI ", " BlackMark ", " Download "};
  ASSERT_EQ(tabs->count(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(tabs->widget(i)->objectName(), QLatin1String(pages[i]));
    EXPECT_EQ(tabs->tabText(i), QLatin1String(captions[i]));
  }
  EXPECT_EQ(tabs->currentWidget()->objectName(), QStringLiteral("tsBase"));
}

// ---- every control's default, tab by tab ----

struct ControlDefault {
  const char *name;
  const char *text; // caption or edit text; nullptr: not checked
  bool enabled = true;
};

void expectDefaults(MainFormTest *, QWidget &form, std::initializer_list<ControlDefault> table) {
  for (const ControlDefault &c : table) {
    QWidget *widget = form.findChild<QWidget *>(QString::fromLatin1(c.name));
    ASSERT_NE(widget, nullptr) << c.name;
    EXPECT_EQ(widget->isEnabled(), c.enabled) << c.name;
    if (c.text == nullptr)
      continue;
    QString text;
    if (auto *b = qobject_cast<QAbstractButton *>(widget))
      text = b->text();
    else if (auto *e = qobject_cast<QLineEdit *>(widget))
      text = e->text();
    else if (auto *l = qobject_cast<QLabel *>(widget))
      text = l->text();
    else
      ADD_FAILURE() << c.name << " has no text";
    EXPECT_EQ(text, QString::fromUtf8(c.text)) << c.name;
  }
}

TEST_F(MainFormTest, ParameterGroupDefaults) {
  expectDefaults(this, form(),
                 {{"btnHelp", "Help"},
                  {"btnOpenCOM", "Open", false},
                  {"edtETHIP", "192.168.1.100"},
                  {"edtETHPort", "9100"},
                  {"btnConnect", "Connect", false},
                  {"cbbDriver", nullptr},
                  {"cbbCOM", nullptr},
                  {"cbbBaudrate", nullptr},
                  {"cbbParity", nullptr}});
  EXPECT_EQ(items("cbbBaudrate"),
            (QStringList{"1200", "4800", "9600", "19200", "38400", "57600", "115200"}));
  EXPECT_EQ(get<QComboBox>("cbbBaudrate")->currentText(), QStringLiteral("19200"));
  EXPECT_EQ(items("cbbParity"), (QStringList{"NONE", "ODD", "EVEN"}));
  EXPECT_EQ(get<QComboBox>("cbbParity")->currentIndex(), 0);
}

TEST_F(MainFormTest, BaseTabDefaults) {
  expectDefaults(this, form(),
                 {{"pnlBase1", nullptr},
                  {"btnBaseSet", "SET"},
                  {"btnSelfTest", "SelfTest Paper"},
                  {"chkBuzzer", "Buzzer"},
                  {"chkDrawer", "Drawer"},
                  {"chkCutter", "Cutter"},
                  {"chkBAP", "Buzz After Printing"},
                  {"chkRePrint", "Auto Reprint The Last Receipt"},
                  {"lblCodePage", "CodePage:"},
                  {"lblCPBR", "Baudrate :"},
                  {"lblCPParity", "Parity:"},
                  {"lblFont", "Character:"},
                  {"lblDesity", "Density\xEF\xBC\x9A"},
                  {"lblCHS", "CHS/Line\xEF\xBC\x9A"}});
  EXPECT_TRUE(get<QCheckBox>("chkBuzzer")->isChecked());
  EXPECT_TRUE(get<QCheckBox>("chkDrawer")->isChecked());
  EXPECT_TRUE(get<QCheckBox>("chkCutter")->isChecked());
  EXPECT_FALSE(get<QCheckBox>("chkBAP")->isChecked());
  EXPECT_FALSE(get<QCheckBox>("chkRePrint")->isChecked());

  struct List {
    const char *name;
    QStringList items;
    int selected;
  };
  const List lists[] = {
      {"cbbCPBR", {"4800", "9600", "19200", "38400", "57600", "115200", "1200"}, 2},
      {"cbbCPPARITY", {"NONE", "ODD", "EVEN"}, 0},
      {"cbbFont", {"FONT-A", "FONT-B", "FONT-C"}, 0},
      {"cbbDesity", {"Normal", "Dark"}, 0},
      {"cbbCHS", {"48", "40"}, 0},
  };
  for (const List &l : lists) {
    EXPECT_EQ(items(l.name), l.items) << l.name;
    EXPECT_EQ(get<QComboBox>(l.name)->currentIndex(), l.selected) << l.name;
  }
}

TEST_F(MainFormTest, CodePageListHoldsTheWholeTableWithSixteenPixelItems) {
  auto *codePages = get<QComboBox>("cbbCodePage");
  ASSERT_EQ(codePages->count(), 49);
  EXPECT_EQ(codePages->currentIndex(), 0);
  EXPECT_EQ(codePages->itemText(0), QStringLiteral("CHINESE"));
  EXPECT_EQ(codePages->itemText(14), QStringLiteral("CP755 [East Europe\uFF0CLatvian 2]"));
  EXPECT_EQ(codePages->itemText(20), QStringLiteral("CP858 Multilingual Latin \u2160+Euro)"));
  EXPECT_EQ(codePages->itemText(48), QStringLiteral("Cp874"));
  EXPECT_EQ(codePages->view()->sizeHintForRow(0), 16);
  EXPECT_EQ(codePages->view()->sizeHintForRow(48), 16);
}

TEST_F(MainFormTest, EthernetTabDefaults) {
  expectDefaults(this, form(),
                 {{"edtIPAD1", "192"},     {"edtIPAD2", "168"},    {"edtIPAD3", "1"},
                  {"edtIPAD4", "87"},      {"edtTCPPort", "9100"}, {"btnIPSet", "SET"},
                  {"edtMAC0", "0", false}, {"edtMAC1", "100"},     {"edtMAC2", "101"},
                  {"edtMAC3", "102"},      {"edtMAC4", "103"},     {"edtMAC5", "104"},
                  {"btnMACSet", "SET"},    {"btnSpeedSet", "SET"}, {"lblIP", "IP:"},
                  {"lblTCPPort", "Port:"}, {"lblMAC", "MAC:"},     {"lblSpeed", "Speed:"},
                  {"pnlIP", nullptr},      {"pnlMAC", nullptr}});
  for (const char *label : {"lblIP", "lblTCPPort", "lblMAC", "lblSpeed"})
    EXPECT_EQ(get<QLabel>(label)->font().family(), QStringLiteral("Calibri")) << label;
}

TEST_F(MainFormTest, WifiTabDefaults) {
  expectDefaults(this, form(),
                 {{"pnlSSID", nullptr},
                  {"pnlWIFIENType", nullptr},
                  {"lblWIFISSID", "WIFI SSID:"},
                  {"edtWIFISSID", "SSID"},
                  {"rbNoPassword", "OPEN(NO KEYS)"},
                  {"rbWPA", "WPA-PSK/WPA2-PSK"},
                  {"rbWEP", "WEP"},
                  {"lblWPAType", "TYPE:"},
                  {"lblENType", "ENCRYPTION:"},
                  {"lblWPAPassword", "SECRET KEY:"},
                  {"edtWPAPassword", ""},
                  {"lblWEPType", "TYPE:"},
                  {"lblWEPPassword", "SECRET KEY:"},
                  {"edtWEPPassword", ""},
                  {"btnWIFISet", "SET"}});
  EXPECT_TRUE(get<QRadioButton>("rbNoPassword")->isChecked());
  EXPECT_FALSE(get<QRadioButton>("rbWPA")->isChecked());
  EXPECT_FALSE(get<QRadioButton>("rbWEP")->isChecked());
}

TEST_F(MainFormTest, BlackMarkTabDefaults) {
  expectDefaults(this, form(),
                 {{"pnlBM1", nullptr},
                  {"pnlBM2", nullptr},
                  {"pnlBM3", nullptr},
                  {"btnUseBM", "ENABLE"},
                  {"btnUnuseBM", "DISABLE"},
                  {"lblBMLength", "BlackMark  Pitch:"},
                  {"edtBMLength", "300"},
                  {"btnBMLength", "SET"},
                  {"lblBMWidth", "BlackMark Width:"},
                  {"edtBMWidth", "10"},
                  {"btnBMWidth", "SET"},
                  {"lblBMStartAt", "Print After BM:"},
                  {"edtBMStartAt", "0"},
                  {"btnBMStartAt", "SET"},
                  {"lblBMCutAt", "Cut After BM:"},
                  {"edtBMCutAt", "0"},
                  {"btnBMCutAt", "SET"},
                  {"btnBMNextBM", "NEXT BM"},
                  {"btnBMNextCut", "NEXT CUT"}});
  for (const char *unit :
       {"lblBMLengthUnit", "lblBMWidthUnit", "lblBMStartAtUnit", "lblBMCutAtUnit"})
    EXPECT_EQ(get<QLabel>(unit)->text(), QStringLiteral("mm")) << unit;
}

TEST_F(MainFormTest, DownloadTabDefaults) {
  expectDefaults(this, form(),
                 {{"pnlFirmware", nullptr},
                  {"pnlLOGO", nullptr},
                  {"lblFirmware", "Select A Printer Firmware:"},
                  {"edtFirmwareFile", ""},
                  {"btnChoseFW", "..."},
                  {"btnUpdateFW", "Update"},
                  {"lblLOGOFile", "LOGO "},
                  {"btnADDLOGO", "ADD"},
                  {"btnDeleteLOGO", "Delete"},
                  {"btnDownloadLOGO", "Download"},
                  {"lblLOGOSIZE", ""}});
  EXPECT_EQ(get<QListWidget>("lstLOGOList")->count(), 0);
  EXPECT_TRUE(get<QPushButton>("btnUpdateFW")->font().bold());
  EXPECT_TRUE(get<QPushButton>("btnDownloadLOGO")->font().bold());
  EXPECT_EQ(get<QWidget>("pnlLOGO")->geometry(), QRect(8, 97, 393, 145));
  EXPECT_EQ(get<QWidget>("lstLOGOList")->geometry(), QRect(8, 7, 289, 106));
  EXPECT_EQ(get<QWidget>("edtFirmwareFile")->geometry(), QRect(8, 24, 329, 19));
  EXPECT_EQ(get<QWidget>("btnUpdateFW")->geometry(), QRect(8, 48, 371, 25));
}

// ---- lists read at start-up ----

TEST_F(MainFormTest, PortAndPrinterListsAreFilledWithTheFirstItemSelected) {
  addSerialPort("ttyUSB1");
  addSerialPort("ttyUSB0");
  printers = {QStringLiteral("receipt"), QStringLiteral("kitchen")};
  EXPECT_EQ(items("cbbCOM"), (QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
  EXPECT_EQ(get<QComboBox>("cbbCOM")->currentIndex(), 0);
  EXPECT_EQ(items("cbbDriver"), (QStringList{"receipt", "kitchen"}));
  EXPECT_EQ(get<QComboBox>("cbbDriver")->currentText(), QStringLiteral("receipt"));
}

TEST_F(MainFormTest, NoPortAndNoPrinterLeaveBothListsEmptyWithoutSelection) {
  EXPECT_EQ(get<QComboBox>("cbbCOM")->count(), 0);
  EXPECT_EQ(get<QComboBox>("cbbCOM")->currentIndex(), -1);
  EXPECT_EQ(get<QComboBox>("cbbDriver")->count(), 0);
  EXPECT_EQ(get<QComboBox>("cbbDriver")->currentIndex(), -1);
}

// ---- the lists refilled on every change of tab ----

TEST_F(MainFormTest, TabListsAreEmptyUntilTheFirstChangeOfTab) {
  for (const char *list : {"cbbSpeed", "cbbWPAType", "cbbENType", "cbbWEPType"})
    EXPECT_EQ(get<QComboBox>(list)->count(), 0) << list;
}

TEST_F(MainFormTest, ChangingTabRefillsTheFourListsButKeepsEverythingElse) {
  auto *tabs = get<QTabWidget>("pgcFunction");
  tabs->setCurrentIndex(2);
  EXPECT_EQ(items("cbbSpeed"),
            (QStringList{"Auto Negotiation", "100M Full Duplex", "100M Half Duplex",
                         "10M Full Duplex", "10M Half Duplex"}));
  EXPECT_EQ(items("cbbWPAType"), (QStringList{"WPA-PSK", "WPA2-PSK"}));
  EXPECT_EQ(items("cbbENType"), (QStringList{"TPIK", "AES"}));
  EXPECT_EQ(items("cbbWEPType"), (QStringList{"OPEN", "SHARE"}));

  get<QComboBox>("cbbWPAType")->setCurrentIndex(1);
  get<QComboBox>("cbbENType")->setCurrentIndex(0);
  get<QComboBox>("cbbWEPType")->setCurrentIndex(1);
  get<QComboBox>("cbbSpeed")->setCurrentIndex(4);
  get<QLineEdit>("edtWIFISSID")->setText(QStringLiteral("shop"));
  get<QLineEdit>("edtWPAPassword")->setText(QStringLiteral("secret"));
  get<QRadioButton>("rbWPA")->setChecked(true);
  get<QComboBox>("cbbFont")->setCurrentIndex(2);
  get<QCheckBox>("chkBuzzer")->setChecked(false);

  tabs->setCurrentIndex(0);
  tabs->setCurrentIndex(2);
  EXPECT_EQ(get<QComboBox>("cbbWPAType")->currentText(), QStringLiteral("WPA-PSK"));
  EXPECT_EQ(get<QComboBox>("cbbENType")->currentText(), QStringLiteral("AES"));
  EXPECT_EQ(get<QComboBox>("cbbWEPType")->currentText(), QStringLiteral("OPEN"));
  EXPECT_EQ(get<QComboBox>("cbbSpeed")->currentText(), QStringLiteral("Auto Negotiation"));
  EXPECT_EQ(get<QComboBox>("cbbSpeed")->count(), 5);
  EXPECT_EQ(get<QLineEdit>("edtWIFISSID")->text(), QStringLiteral("shop"));
  EXPECT_EQ(get<QLineEdit>("edtWPAPassword")->text(), QStringLiteral("secret"));
  EXPECT_TRUE(get<QRadioButton>("rbWPA")->isChecked());
  EXPECT_EQ(get<QComboBox>("cbbFont")->currentIndex(), 2);
  EXPECT_FALSE(get<QCheckBox>("chkBuzzer")->isChecked());
}

// ---- the clock ----

TEST_F(MainFormTest, ClockTextIsYearMonthDayAndTwentyFourHourTime) {
  EXPECT_EQ(TForm1::ClockText(QDateTime(QDate(2026, 12, 7), QTime(2, 47, 25))),
            QStringLiteral("2026-12-07 02:47:25"));
  EXPECT_EQ(TForm1::ClockText(QDateTime(QDate(999, 1, 2), QTime(23, 5, 9))),
            QStringLiteral("0999-01-02 23:05:09"));
}

TEST_F(MainFormTest, StatusPanelShowsTheClockAtStartAndEachSecondAfter) {
  QDateTime moment(QDate(2026, 12, 7), QTime(2, 47, 25));
  now = [&moment] { return moment; };
  QElapsedTimer elapsed;
  elapsed.start();
  TForm1 &w = form();
  EXPECT_EQ(w.StatusText(), QStringLiteral("2026-12-07 02:47:25"));

  moment = moment.addSecs(1);
  ASSERT_TRUE(test::WaitUntil([&] { return w.StatusText() == "2026-12-07 02:47:26"; }, 3000));
  EXPECT_GE(elapsed.elapsed(), 900);

  w.SetStatusText(QStringLiteral("Complete !"));
  moment = moment.addSecs(1);
  ASSERT_TRUE(test::WaitUntil([&] { return w.StatusText() == "2026-12-07 02:47:27"; }, 1500));
}

TEST_F(MainFormTest, StatusPanelShowsTheRealTimeWhenNothingIsInjected) {
  const QDateTime before = QDateTime::currentDateTime();
  TForm1 &w = form();
  const QDateTime shown =
      QDateTime::fromString(w.StatusText(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  ASSERT_TRUE(shown.isValid()) << w.StatusText().toStdString();
  EXPECT_LE(std::abs(shown.secsTo(before)), 1);
}

// ---- nothing clipped ----

// Every control lies inside its parent, and every caption fits its control
// in the faces the window really uses.
TEST_F(MainFormTest, NoControlOrCaptionIsClipped) {
  TForm1 &w = form();
  w.show();
  auto *tabs = get<QTabWidget>("pgcFunction");
  EXPECT_LE(tabs->tabBar()->sizeHint().width(), tabs->width());
  for (int page = 0; page < tabs->count(); ++page) {
    tabs->setCurrentIndex(page);
    for (QWidget *widget : w.findChildren<QWidget *>()) {
      if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_")) ||
          !widget->isVisibleTo(&w))
        continue;
      const QString name = widget->objectName();
      QWidget *parent = widget->parentWidget();
      if (parent != nullptr && parent != &w && !qobject_cast<QStatusBar *>(parent)) {
        EXPECT_TRUE(parent->rect().contains(widget->geometry()))
            << name.toStdString() << " leaves " << parent->objectName().toStdString();
      }
      if (auto *label = qobject_cast<QLabel *>(widget)) {
        EXPECT_LE(label->sizeHint().width(), label->width()) << name.toStdString();
      } else if (auto *check = qobject_cast<QCheckBox *>(widget)) {
        EXPECT_LE(check->sizeHint().width(), check->width()) << name.toStdString();
      } else if (auto *radio = qobject_cast<QRadioButton *>(widget)) {
        EXPECT_LE(radio->sizeHint().width(), radio->width()) << name.toStdString();
      } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 8, button->width())
            << name.toStdString();
      } else if (auto *group = qobject_cast<QGroupBox *>(widget)) {
        EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()) + 16, group->width())
            << name.toStdString();
      }
    }
  }
}

} // namespace
} // namespace pellicar

namespace pellicar {
namespace {

TEST_F(MainFormTest, WindowUsesTahomaWhereTheMachineHasIt) {
  if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")))
    GTEST_SKIP() << "no Tahoma installed (fonts-wine); the window falls back to the default face";
  EXPECT_EQ(QFontInfo(form().font()).family(), QStringLiteral("Tahoma"));
  EXPECT_EQ(QFontInfo(get<QLabel>("lblCodePage")->font()).family(), QStringLiteral("Tahoma"));
}

} // namespace
} // namespace pellicar
