// The Ethernet, WIFI and BlackMark tabs through the window, to a printer on
// the other end of a real channel: the controls are set by name, the button
// is clicked, and the bytes the printer receives are compared with the table
// of cases shared with the builders' and the command-line tool's tests.

#include "support/command_cases.h"
#include "support/fake_printer.h"
#include "support/private_cups.h"
#include "support/pty.h"
#include "support/window_fixture.h"

#include <QTabWidget>

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace pellicar {
namespace {

using test::ToHex;
using test::WindowFixture;

const QString kComplete = QStringLiteral("Complete !");
// What the status panel holds before a refused click; it must stay.
const QString kBefore = QStringLiteral("before the click");
// NEXT CUT, sent behind a refused click: what arrives before it is what the
// refused click sent.
const char *const kSentinelButton = "btnBMNextCut";
const std::string kSentinelHex = "1D 56 00";

qsizetype HexLength(const std::string &hex) {
  return hex.empty() ? 0 : qsizetype(hex.size() + 1) / 3;
}

QString ConversionErrorText(const char *text) {
  return QStringLiteral("'%1' is not a valid integer value.").arg(QString::fromUtf8(text));
}

class WindowSettingsBase : public WindowFixture {
protected:
  // Shows a tab as the user does; the change of tab refills its lists.
  void showTab(const char *page) {
    auto *tabs = get<QTabWidget>("pgcFunction");
    QWidget *sheet = get<QWidget>(page);
    if (tabs != nullptr && sheet != nullptr)
      tabs->setCurrentWidget(sheet);
  }

  void setWifi(const WifiSettings &s) {
    type("edtWIFISSID", s.ssid);
    click(s.security == WifiSecurity::Wpa   ? "rbWPA"
          : s.security == WifiSecurity::Wep ? "rbWEP"
                                            : "rbNoPassword");
    choose("cbbWPAType", s.wpaTypeIndex);
    choose("cbbENType", s.cipherIndex);
    type("edtWPAPassword", s.wpaKey);
    choose("cbbWEPType", s.wepTypeIndex);
    type("edtWEPPassword", s.wepKey);
  }

  void setFields(const char *prefix, int first, const auto &texts) {
    int number = first;
    for (const char *text : texts) {
      const QByteArray name = QByteArray(prefix) + QByteArray::number(number++);
      type(name.constData(), QString::fromUtf8(text));
    }
  }

  // The one box a refused click showed, owned by the window, modal, OK only,
  // with the error icon; empty when there was not exactly one.
  std::optional<MessageBoxRequest> onlyBox() {
    EXPECT_EQ(boxes.shown.size(), 1) << boxes.Texts().join(u'|').toStdString();
    if (boxes.shown.size() != 1)
      return std::nullopt;
    const auto &shown = boxes.shown.front();
    EXPECT_EQ(shown.owner, &form());
    EXPECT_EQ(shown.request.icon, MsgIcon::Error);
    EXPECT_EQ(shown.request.buttons, MsgButtons::Ok);
    EXPECT_EQ(shown.request.modality, MsgModality::Owner);
    return shown.request;
  }
};

// ---- over TCP to a fake printer on 127.0.0.1 ----

class WindowSettingsTest : public WindowSettingsBase {
protected:
  void SetUp() override {
    ASSERT_TRUE(printer_.listening());
    ASSERT_TRUE(connectTcp(printer_.port()));
  }

  // Clicks a button that must send `hex`: the status panel says "Complete !"
  // and the printer receives exactly those bytes.
  void expectSent(const char *button, const std::string &hex) {
    boxes.shown.clear();
    form().SetStatusText(kBefore);
    const qsizetype before = printer_.receivedSize();
    click(button);
    EXPECT_EQ(status(), kComplete);
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(u'|').toStdString();
    EXPECT_TRUE(printer_.waitForBytes(before + HexLength(hex)));
    EXPECT_EQ(ToHex(printer_.received().mid(before)), hex);
  }

  // Clicks a button that must be refused: the status panel keeps its text,
  // and NEXT CUT clicked after it is the first thing the printer receives.
  // Returns the one box shown.
  std::optional<MessageBoxRequest> expectRefused(const char *button) {
    boxes.shown.clear();
    form().SetStatusText(kBefore);
    const qsizetype before = printer_.receivedSize();
    click(button);
    EXPECT_EQ(status(), kBefore);
    std::optional<MessageBoxRequest> box = onlyBox();
    click(kSentinelButton);
    EXPECT_TRUE(printer_.waitForBytes(before + HexLength(kSentinelHex)));
    EXPECT_EQ(ToHex(printer_.received().mid(before)), kSentinelHex) << "sent by the refused click";
    return box;
  }

  void expectConversionError(const char *button, const char *text) {
    if (const auto box = expectRefused(button)) {
      EXPECT_EQ(box->text, ConversionErrorText(text));
      EXPECT_EQ(box->caption, QStringLiteral("Pellicar"));
    }
  }

  test::FakePrinter printer_;
};

TEST_F(WindowSettingsTest, IpAddressSet) {
  showTab("tsEhternet");
  // The port beside the address travels in no sequence.
  type("edtTCPPort", QStringLiteral("1"));
  for (const test::IpCase &c : test::kIpCases) {
    SCOPED_TRACE(c.label);
    setFields("edtIPAD", 1, c.texts);
    if (c.refusedText)
      expectConversionError("btnIPSet", c.refusedText);
    else
      expectSent("btnIPSet", c.hex);
  }
}

TEST_F(WindowSettingsTest, MacAddressSet) {
  showTab("tsEhternet");
  for (const test::MacCase &c : test::kMacCases) {
    SCOPED_TRACE(c.label);
    setFields("edtMAC", 1, c.texts);
    if (c.refusedText)
      expectConversionError("btnMACSet", c.refusedText);
    else
      expectSent("btnMACSet", c.hex);
  }
}

TEST_F(WindowSettingsTest, MacAddressIgnoresTheDisabledFirstField) {
  showTab("tsEhternet");
  type("edtMAC0", QStringLiteral("1A"));
  expectSent("btnMACSet", "1F 6D 00 64 65 66 67 68");
}

TEST_F(WindowSettingsTest, LinkSpeedSet) {
  showTab("tsEhternet");
  for (const test::SpeedCase &c : test::kSpeedCases) {
    SCOPED_TRACE(c.index);
    choose("cbbSpeed", c.index);
    expectSent("btnSpeedSet", c.hex);
  }
}

TEST_F(WindowSettingsTest, WifiSet) {
  showTab("tsWIFI");
  for (const test::WifiCase &c : test::kWifiCases) {
    SCOPED_TRACE(c.label);
    setWifi(c.settings);
    if (!c.tooLongField) {
      expectSent("btnWIFISet", c.hex);
      continue;
    }
    if (const auto box = expectRefused("btnWIFISet")) {
      EXPECT_EQ(box->caption, QStringLiteral("Error"));
      EXPECT_TRUE(box->text.startsWith(QString::fromUtf8(c.tooLongField)))
          << box->text.toStdString();
      EXPECT_TRUE(box->text.contains(QStringLiteral("255 bytes"))) << box->text.toStdString();
    }
  }
}

TEST_F(WindowSettingsTest, WifiSendsOnlyTheKeyOfTheCheckedSecurity) {
  showTab("tsWIFI");
  type("edtWPAPassword", QStringLiteral("wpa"));
  type("edtWEPPassword", QStringLiteral("we"));
  click("rbWPA");
  expectSent("btnWIFISet", "1F 77 04 53 53 49 44 02 01 03 77 70 61");
  click("rbWEP");
  expectSent("btnWIFISet", "1F 77 04 53 53 49 44 00 01 02 77 65");
  click("rbNoPassword");
  expectSent("btnWIFISet", "1F 77 04 53 53 49 44 00 00 00");
}

// A change of tab refills the lists with their defaults selected; what the
// user typed and checked stays.
TEST_F(WindowSettingsTest, ChangeOfTabResetsTheListsThatAreSent) {
  showTab("tsWIFI");
  click("rbWPA");
  choose("cbbWPAType", 1); // WPA2-PSK
  choose("cbbENType", 0);  // TPIK
  type("edtWPAPassword", QStringLiteral("12345678"));
  expectSent("btnWIFISet", "1F 77 04 53 53 49 44 03 00 08 31 32 33 34 35 36 37 38");
  showTab("tsBlackMark");
  showTab("tsWIFI");
  expectSent("btnWIFISet", "1F 77 04 53 53 49 44 02 01 08 31 32 33 34 35 36 37 38");

  click("rbWEP");
  choose("cbbWEPType", 1); // SHARE
  type("edtWEPPassword", QStringLiteral("abcde"));
  expectSent("btnWIFISet", "1F 77 04 53 53 49 44 01 00 05 61 62 63 64 65");
  showTab("tsBase");
  showTab("tsWIFI");
  expectSent("btnWIFISet", "1F 77 04 53 53 49 44 00 01 05 61 62 63 64 65");

  showTab("tsEhternet");
  choose("cbbSpeed", 4); // 10M Half Duplex
  expectSent("btnSpeedSet", "1F 70 01 00 00");
  showTab("tsWIFI");
  showTab("tsEhternet");
  expectSent("btnSpeedSet", "1F 70 00 00 84");
}

TEST_F(WindowSettingsTest, BlackMarkDistances) {
  showTab("tsBlackMark");
  for (const test::DistanceCase &c : test::kDistanceCases) {
    SCOPED_TRACE(std::string(c.button) + " '" + c.text + "'");
    type(c.edit, QString::fromUtf8(c.text));
    if (c.refused)
      expectConversionError(c.button, c.text);
    else
      expectSent(c.button, c.expected.hex);
  }
}

TEST_F(WindowSettingsTest, BlackMarkDistancesReadOnlyTheirOwnField) {
  showTab("tsBlackMark");
  type("edtBMLength", QStringLiteral("1"));
  type("edtBMWidth", QStringLiteral("2"));
  type("edtBMStartAt", QStringLiteral("3"));
  type("edtBMCutAt", QStringLiteral("4"));
  expectSent("btnBMLength", "1F 1B 1F 81 04 05 06 00 08");
  expectSent("btnBMWidth", "1F 1B 1F 82 04 05 06 00 10");
  expectSent("btnBMStartAt", "1D 28 46 04 00 01 00 18 00");
  expectSent("btnBMCutAt", "1D 28 46 04 00 02 00 20 00");
}

TEST_F(WindowSettingsTest, FixedButtons) {
  for (const test::FixedCase &c : test::kFixedCases) {
    SCOPED_TRACE(c.button);
    expectSent(c.button, c.expected.hex);
  }
}

// ---- over the private print server: one raw job per action, named ----

class WindowSettingsSpoolerTest : public WindowSettingsBase {
protected:
  void SetUp() override { PELLICAR_START_PRIVATE_CUPS(cups_, kQueue); }

  const QString kQueue = QStringLiteral("receipt");
  test::PrivateCups cups_;
};

TEST_F(WindowSettingsSpoolerTest, EachActionIsOneJobNamedAfterIt) {
  ASSERT_EQ(get<QComboBox>("cbbDriver")->currentText(), kQueue);
  ASSERT_EQ(get<TRadioGroup>("rgPort")->ItemIndex(), 0);

  // A refused click makes no job.
  showTab("tsEhternet");
  setFields("edtIPAD", 1, std::array{"10", "0", "0", "x"});
  click("btnIPSet");
  if (const auto box = onlyBox()) {
    EXPECT_EQ(box->text, ConversionErrorText("x"));
  }
  boxes.shown.clear();

  type("edtIPAD4", QStringLiteral("$FE"));
  click("btnIPSet");
  EXPECT_EQ(status(), kComplete);
  showTab("tsWIFI");
  type("edtWIFISSID", QString());
  click("btnWIFISet");
  EXPECT_EQ(status(), kComplete);
  showTab("tsBlackMark");
  type("edtBMStartAt", QStringLiteral("5"));
  click("btnBMStartAt");
  EXPECT_EQ(status(), kComplete);
  EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(u'|').toStdString();

  ASSERT_TRUE(cups_.Sink().WaitForReceived(3));
  const QList<QByteArray> jobs = cups_.Sink().Received();
  ASSERT_EQ(jobs.size(), 3);
  EXPECT_EQ(ToHex(jobs[0]), "1F 69 0A 00 00 FE");
  EXPECT_EQ(ToHex(jobs[1]), "1F 77 00 00 00 00");
  EXPECT_EQ(ToHex(jobs[2]), "1D 28 46 04 00 01 00 28 00");
  ASSERT_TRUE(cups_.WaitForFinishedJobs(kQueue, 3));
  EXPECT_EQ(cups_.FinishedJobTitles(kQueue), (QStringList{"Set IP", "Set WIFI", "Set BM Postion"}));
}

// ---- over a serial line: a pseudo terminal ----

class WindowSettingsSerialTest : public WindowSettingsBase {};

TEST_F(WindowSettingsSerialTest, MacAndDistanceOverThePort) {
  test::TPseudoTerminal pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_TRUE(openSerial(pty.SlavePath())) << boxes.Texts().join(u'|').toStdString();

  showTab("tsEhternet");
  setFields("edtMAC", 1, std::array{"$FF", "0xFF", "255", "-1", "511"});
  click("btnMACSet");
  EXPECT_EQ(status(), kComplete);
  ASSERT_TRUE(pty.WaitForReceived(8));
  EXPECT_EQ(ToHex(pty.Received()), "1F 6D 00 FF FF FF FF FF");
  pty.ClearReceived();

  // Refused, then sent: only the second reaches the line.
  showTab("tsBlackMark");
  type("edtBMCutAt", QStringLiteral("25mm"));
  form().SetStatusText(kBefore);
  click("btnBMCutAt");
  EXPECT_EQ(status(), kBefore);
  if (const auto box = onlyBox()) {
    EXPECT_EQ(box->text, ConversionErrorText("25mm"));
    EXPECT_EQ(box->caption, QStringLiteral("Pellicar"));
  }
  type("edtBMCutAt", QStringLiteral(" 25"));
  click("btnBMCutAt");
  EXPECT_EQ(status(), kComplete);
  ASSERT_TRUE(pty.WaitForReceived(9));
  EXPECT_EQ(ToHex(pty.Received()), "1D 28 46 04 00 02 00 C8 00");
}

} // namespace
} // namespace pellicar
