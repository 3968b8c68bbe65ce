// Profiles in the window: the menu bar above the form; Save then Open
// gives back every control; a field that does not convert writes nothing;
// a missing logo is named and the rest loaded; the refilled lists keep the
// profile's values; "Send Profile" reaches pellicar-printer whole.

#include "app/main_window.h"
#include "app/menu_bar.h"
#include "app/radio_group.h"
#include "support/printer_process.h"
#include "support/recording_dialogs.h"
#include "support/wait.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace pellicar::test {
namespace {

class WindowProfileTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    logo = folder.filePath("shop.bmp");
    ASSERT_TRUE(QFile::copy(QStringLiteral(PELLICAR_SOURCE_DIR "/docs/example-logo.bmp"), logo));
  }

  std::unique_ptr<TMainWindow> Window() {
    FormServices services;
    services.boxes = &boxes;
    services.fileDialogs = &files;
    services.listPrinters = [] { return QStringList{"receipt", "kitchen"}; };
    services.sysfsRoot = sysfs.path();
    // The printer's log holds what the profile sent, without status questions.
    services.askPrinterState = false;
    return std::make_unique<TMainWindow>(services, folder.filePath("recent.ini"));
  }

  template <typename T = QWidget> static T *Get(TMainWindow &w, const char *name) {
    T *widget = w.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  static QString Text(const QAction *action) { return action->text().remove('&'); }

  // Every control a profile covers, as text.
  static std::map<std::string, std::string> Values(TMainWindow &w) {
    std::map<std::string, std::string> values;
    for (QLineEdit *edit : w.findChildren<QLineEdit *>())
      if (edit->objectName().startsWith("edt"))
        values[edit->objectName().toStdString()] = edit->text().toStdString();
    for (QComboBox *list : w.findChildren<QComboBox *>())
      values[list->objectName().toStdString()] = list->currentText().toStdString();
    for (QAbstractButton *box : w.findChildren<QAbstractButton *>())
      if (box->isCheckable())
        values[box->objectName().toStdString()] = box->isChecked() ? "checked" : "";
    auto *logos = Get<QListWidget>(w, "lstLOGOList");
    for (int i = 0; i < logos->count(); ++i)
      values["logo " + std::to_string(i)] = logos->item(i)->text().toStdString();
    values["lblLOGOSIZE"] = Get<QLabel>(w, "lblLOGOSIZE")->text().toStdString();
    return values;
  }

  QTemporaryDir folder;
  QTemporaryDir sysfs;
  QString logo;
  RecordingMessageBoxes boxes;
  ScriptedFileDialogs files;
};

TEST_F(WindowProfileTest, MenuBarLiesAboveTheFormsArea) {
  auto w = Window();
  w->show();
  TMenuBar &menu = w->Menu();
  EXPECT_EQ(Text(menu.FileMenu()->menuAction()), "File");
  QStringList file;
  for (QAction *action : menu.FileMenu()->actions())
    if (!action->isSeparator())
      file << Text(action);
  EXPECT_EQ(file, (QStringList{"Open Profile…", "Save Profile…", "Recent Profiles", "Quit"}));
  EXPECT_EQ(menu.OpenProfile()->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(menu.SaveProfile()->shortcut(), QKeySequence("Ctrl+S"));
  EXPECT_EQ(Text(menu.PrinterMenu()->menuAction()), "Printer");
  EXPECT_EQ(Text(menu.SendProfile()), "Send Profile");
  EXPECT_EQ(w->Form().size(), QSize(432, 450));
  EXPECT_EQ(w->Form().y(), menu.height());
  EXPECT_EQ(w->size(), QSize(432, 450 + menu.height()));
  EXPECT_EQ(w->windowTitle(), "Pellicar  V1.83  Beta");
}

TEST_F(WindowProfileTest, SaveThenOpenGivesBackEveryControl) {
  auto first = Window();
  TMainWindow &w = *first;
  Get<QTabWidget>(w, "pgcFunction")->setCurrentIndex(2); // fills the four lists
  const std::pair<const char *, int> lists[] = {
      {"cbbCPBR", 6},   {"cbbCPPARITY", 2},  {"cbbFont", 1},     {"cbbDesity", 1},
      {"cbbCHS", 1},    {"cbbCodePage", 48}, {"cbbSpeed", 4},    {"cbbWPAType", 1},
      {"cbbENType", 0}, {"cbbDriver", 1},    {"cbbBaudrate", 0}, {"cbbParity", 1}};
  for (const auto &[name, index] : lists)
    Get<QComboBox>(w, name)->setCurrentIndex(index);
  for (const char *name : {"chkBuzzer", "chkDrawer", "chkCutter", "chkRePrint", "chkBAP"})
    Get<QCheckBox>(w, name)->toggle();
  const std::pair<const char *, const char *> edits[] = {{"edtIPAD1", "10"},
                                                         {"edtIPAD2", "0"},
                                                         {"edtIPAD3", "255"},
                                                         {"edtIPAD4", "7"},
                                                         {"edtMAC1", "1"},
                                                         {"edtMAC2", "2"},
                                                         {"edtMAC3", "3"},
                                                         {"edtMAC4", "254"},
                                                         {"edtMAC5", "255"},
                                                         {"edtWIFISSID", "Café ☕"},
                                                         {"edtWPAPassword", "pässwörd"},
                                                         {"edtBMLength", "8191"},
                                                         {"edtBMWidth", "4"},
                                                         {"edtBMStartAt", "3"},
                                                         {"edtBMCutAt", "7"},
                                                         {"edtETHIP", "127.0.0.1"},
                                                         {"edtETHPort", "9101"}};
  for (const auto &[name, text] : edits)
    Get<QLineEdit>(w, name)->setText(QString::fromUtf8(text));
  Get<QRadioButton>(w, "rbWPA")->setChecked(true);
  Get<TRadioGroup>(w, "rgPort")->Item(2)->click();
  Get<QAbstractButton>(w, "btnUseBM")->click();
  files.nextFiles = {logo, logo};
  Get<QAbstractButton>(w, "btnADDLOGO")->click();
  Get<QAbstractButton>(w, "btnADDLOGO")->click();
  ASSERT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join('|').toStdString();

  const QString path = folder.filePath("counter");
  files.nextFiles = {path};
  w.Menu().SaveProfile()->trigger();
  ASSERT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join('|').toStdString();
  QFile saved(path + ".json");
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QJsonObject json = QJsonDocument::fromJson(saved.readAll()).object();
  EXPECT_EQ(json["name"].toString(), "counter");
  EXPECT_EQ(json["blackMark"].toObject()["enabled"], QJsonValue(true));
  // A key in the file: readable by its owner only.
  EXPECT_EQ(saved.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

  auto second = Window();
  files.nextFiles = {path + ".json"};
  second->Menu().OpenProfile()->trigger();
  ASSERT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join('|').toStdString();
  // The lists refilled on a change of tab come back with the profile's values.
  Get<QTabWidget>(*second, "pgcFunction")->setCurrentIndex(2);
  EXPECT_EQ(Values(*second), Values(w));
  EXPECT_EQ(second->ProfileName(), "counter");
  EXPECT_EQ(Get<QLabel>(*second, "statAllProfile")->text(), "counter");
  EXPECT_EQ(second->RecentProfiles(), QStringList{path + ".json"});

  // Saved again, the same document.
  files.nextFiles = {folder.filePath("again.json")};
  second->Menu().SaveProfile()->trigger();
  QFile again(folder.filePath("again.json"));
  ASSERT_TRUE(again.open(QIODevice::ReadOnly));
  EXPECT_EQ(QJsonDocument::fromJson(again.readAll()).object(), json);
}

TEST_F(WindowProfileTest, AFieldThatDoesNotConvertIsNamedAndNothingIsWritten) {
  const std::pair<const char *, const char *> cases[] = {
      {"edtBMLength", "BlackMark Pitch: '25mm' is not a valid integer value."},
      {"edtIPAD3", "IP field 3: 300 is not between 0 and 255 in a profile."},
      {"edtETHPort", "TCP port: '9O00' is not a valid integer value."},
  };
  const char *texts[] = {"25mm", "300", "9O00"};
  for (int i = 0; i < 3; ++i) {
    auto w = Window();
    boxes.shown.clear();
    Get<QLineEdit>(*w, cases[i].first)->setText(QString::fromLatin1(texts[i]));
    files.nextFiles = {folder.filePath("bad.json")};
    w->Menu().SaveProfile()->trigger();
    ASSERT_EQ(boxes.Texts(), QStringList{QString::fromLatin1(cases[i].second)});
    EXPECT_FALSE(QFile::exists(folder.filePath("bad.json")));
    files.nextFiles.clear();
  }
}

TEST_F(WindowProfileTest, MissingLogoIsNamedAndTheRestIsLoaded) {
  QFile file(folder.filePath("p.json"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(R"({"pellicarProfile": 1, "ethernet": {"ip": "10.9.8.7", "speed": "10M Full Duplex"},
    "logos": [{"file": "gone.bmp"}, {"file": "shop.bmp"}]})");
  file.close();
  auto w = Window();
  files.nextFiles = {file.fileName()};
  w->Menu().OpenProfile()->trigger();
  ASSERT_EQ(boxes.shown.size(), 1);
  EXPECT_TRUE(boxes.shown[0].request.text.contains(folder.filePath("gone.bmp")))
      << boxes.shown[0].request.text.toStdString();
  EXPECT_EQ(Get<QLineEdit>(*w, "edtIPAD1")->text(), "10");
  EXPECT_EQ(Get<QListWidget>(*w, "lstLOGOList")->count(), 1);
  // Tab changes refill the speed list with the profile's value, every time.
  for (int tab : {1, 0, 1})
    Get<QTabWidget>(*w, "pgcFunction")->setCurrentIndex(tab);
  EXPECT_EQ(Get<QComboBox>(*w, "cbbSpeed")->currentText(), "10M Full Duplex");
  EXPECT_EQ(Get<QComboBox>(*w, "cbbWPAType")->currentText(), "WPA-PSK");
}

TEST_F(WindowProfileTest, SendProfileReachesThePrinterWhole) {
  const QJsonObject profile{
      {"pellicarProfile", 1},
      {"base", QJsonObject{{"baudRate", 57600},
                           {"parity", "even"},
                           {"cutter", true},
                           {"buzzer", false},
                           {"drawer", true},
                           {"charsPerLine", 48},
                           {"density", "dark"},
                           {"codePage", 47},
                           {"codePageName", "Cp874"},
                           {"font", "B"},
                           {"reprint", false},
                           {"buzzAfterPrinting", true}}},
      {"ethernet",
       QJsonObject{{"ip", "10.1.2.3"}, {"mac", "00:0a:0b:0c:0d:0e"}, {"speed", "10M Full Duplex"}}},
      {"wifi", QJsonObject{{"ssid", "Shop"}, {"security", "wep-share"}, {"key", "12345"}}},
      {"blackMark", QJsonObject{{"enabled", false}, {"pitchMm", 30}}},
      {"logos", QJsonArray{QJsonObject{{"file", "shop.bmp"}}}}};
  QFile file(folder.filePath("send.json"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QJsonDocument(profile).toJson());
  file.close();

  PrinterProcess printer;
  ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
  auto w = Window();
  files.nextFiles = {file.fileName()};
  w->Menu().OpenProfile()->trigger();
  Get<TRadioGroup>(*w, "rgPort")->Item(2)->click();
  Get<QLineEdit>(*w, "edtETHIP")->setText("127.0.0.1");
  Get<QLineEdit>(*w, "edtETHPort")->setText(QString::number(printer.Port()));
  Get<QAbstractButton>(*w, "btnConnect")->click();
  ASSERT_TRUE(WaitUntil([&] { return w->Form().TcpConnected; }));
  ASSERT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join('|').toStdString();

  w->Menu().SendProfile()->trigger();
  ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.isEmpty(); }, 20000));
  EXPECT_EQ(boxes.Texts(), QStringList{"base: Complete !\nblackMark: Complete !\nwifi: Complete !\n"
                                       "logos: Complete !\nspeed: Complete !\nmac: Complete !\n"
                                       "ip: Complete !"});
  ASSERT_TRUE(printer.WaitForLog(10));
  const QJsonObject state = printer.State();
  EXPECT_EQ(state["base"].toObject(), profile["base"].toObject());
  EXPECT_EQ(state["ethernet"].toObject(), profile["ethernet"].toObject());
  EXPECT_EQ(state["wifi"].toObject()["key"].toString(), "12345");
  EXPECT_EQ(state["wifi"].toObject()["security"].toString(), "wep-share");
  EXPECT_EQ(state["blackMark"].toObject()["pitchDots"].toInt(), 240);
  EXPECT_EQ(state["blackMark"].toObject()["enabled"], QJsonValue(false));
  EXPECT_EQ(state["logos"].toArray().size(), 1);
}

} // namespace
} // namespace pellicar::test
