// Sending from the window as a technician does: the Base tab's actions on
// each channel (a fake printer on 127.0.0.1, a pseudo terminal, a private
// print server), the outcome in the status panel, and the port selection
// with its buttons and the TCP client's events.

#include "support/command_cases.h"
#include "support/fake_printer.h"
#include "support/loopback_ports.h"
#include "support/private_cups.h"
#include "support/pty.h"
#include "support/window_fixture.h"

#include <QCheckBox>
#include <QPushButton>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellicar {
namespace {

using test::FakePrinter;
using test::PrivateCups;
using test::RefusingPort;
using test::ToHex;
using test::TPseudoTerminal;
using test::UnansweringPort;
using test::WaitUntil;
using test::WindowFixture;
using ::testing::ElementsAre;

const QString kComplete = QStringLiteral("Complete !");
const QString kNoChannel = QStringLiteral("Enable The Communication Port First!");
const QString kSendFailed = QStringLiteral("Send Failed !");
const QString kQueue = QStringLiteral("receipt");

const std::string kDefaultSet = "1F 73 02 00 00 00 00 00 FF 00 00 1F 72 00 1F 74 00";

std::string Joined(const std::array<std::string, 3> &hex) {
  return hex[0] + ' ' + hex[1] + ' ' + hex[2];
}

// Whether something holds the serial port's lock on `device` (the window
// locks the port it opens, so that nobody else writes to the line).
bool SerialDeviceLocked(const QString &device) {
  const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return locked;
}

class WindowSendTest : public WindowFixture {
protected:
  // No printer is listed unless a test starts a print server of its own.
  WindowSendTest() { printers = QStringList(); }

  // An outcome written by the next action is then seen to be new.
  void clearStatus() { form().SetStatusText(QString()); }

  // The Base tab's controls set as the user would: lists picked, boxes
  // clicked where they differ.
  void setBase(const BaseSettings &s) {
    choose("cbbCPBR", s.baudRateIndex);
    choose("cbbCHS", s.charsPerLineIndex);
    choose("cbbDesity", s.densityIndex);
    choose("cbbCodePage", s.codePageIndex);
    choose("cbbCPPARITY", s.parityIndex);
    choose("cbbFont", s.fontIndex);
    check("chkCutter", s.cutter);
    check("chkBuzzer", s.buzzer);
    check("chkDrawer", s.drawer);
    check("chkRePrint", s.reprint);
    check("chkBAP", s.buzzAfterPrinting);
  }

  void check(const char *box, bool on) {
    if (auto *b = get<QCheckBox>(box); b != nullptr && b->isChecked() != on)
      b->click();
  }

  bool enabled(const char *button) {
    auto *b = get<QAbstractButton>(button);
    return b != nullptr && b->isEnabled();
  }

  // "Ethernet ：", an address and port typed, "Connect" clicked; returns
  // once the attempt's connect call is made.
  bool startConnect(quint16 port) {
    choosePort(2);
    type("edtETHIP", QStringLiteral("127.0.0.1"));
    type("edtETHPort", QString::number(port));
    click("btnConnect");
    return WaitUntil([this] { return caption("btnConnect") == QStringLiteral("Connecting"); });
  }
};

// ---- the Base tab on each channel ----

TEST_F(WindowSendTest, BaseSetWithTheDefaultsOverTcp) {
  FakePrinter printer;
  ASSERT_TRUE(printer.listening());
  ASSERT_TRUE(connectTcp(printer.port()));
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Disconnect"));

  click("btnBaseSet");
  EXPECT_EQ(status(), kComplete);
  ASSERT_TRUE(printer.waitForBytes(17));
  EXPECT_EQ(ToHex(printer.received()), kDefaultSet);
  EXPECT_TRUE(test::WaitUntil([&] { return status() != kComplete; }, 1500))
      << "the clock replaces the outcome at the next tick";
  EXPECT_TRUE(QDateTime::fromString(status(), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid())
      << status().toStdString();
}

TEST_F(WindowSendTest, EveryByteOfBaseSetComesFromItsControl) {
  FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  qsizetype offset = 0;
  for (const test::BaseCase &c : test::kBaseCases) {
    SCOPED_TRACE(c.label);
    setBase(c.settings);
    clearStatus();
    click("btnBaseSet");
    EXPECT_EQ(status(), kComplete);
    ASSERT_TRUE(printer.waitForBytes(offset + 17));
    EXPECT_EQ(ToHex(printer.received().mid(offset)), Joined(c.hex));
    offset += 17;
  }
}

TEST_F(WindowSendTest, BaseSetBytesFollowTheItemsTheUserSees) {
  FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  auto *rate = get<QComboBox>("cbbCPBR");
  auto *pages = get<QComboBox>("cbbCodePage");
  ASSERT_TRUE(rate != nullptr && pages != nullptr);
  rate->setCurrentIndex(rate->findText(QStringLiteral("1200")));
  pages->setCurrentIndex(pages->findText(QStringLiteral("Cp874")));
  click("btnBaseSet");
  rate->setCurrentIndex(rate->findText(QStringLiteral("115200")));
  pages->setCurrentIndex(
      pages->findText(QString::fromUtf8("CP858 Multilingual Latin \xE2\x85\xA0+Euro)")));
  click("btnBaseSet");
  ASSERT_TRUE(printer.waitForBytes(34));
  EXPECT_EQ(ToHex(printer.received()), "1F 73 06 00 00 00 00 00 2F 00 00 1F 72 00 1F 74 00 "
                                       "1F 73 05 00 00 00 00 00 13 00 00 1F 72 00 1F 74 00");
}

TEST_F(WindowSendTest, SelfTestSendsExactly1254OverTcp) {
  FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  click("btnSelfTest");
  EXPECT_EQ(status(), kComplete);
  // What follows the self-test shows that nothing else was sent with it.
  click("btnBaseSet");
  ASSERT_TRUE(printer.waitForBytes(19));
  EXPECT_EQ(ToHex(printer.received()), "12 54 " + kDefaultSet);
}

TEST_F(WindowSendTest, BaseSetAndSelfTestOverTheSerialPort) {
  TPseudoTerminal pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_TRUE(openSerial(pty.SlavePath())) << boxes.Texts().join(u'|').toStdString();
  EXPECT_EQ(caption("btnOpenCOM"), QStringLiteral("Close"));

  click("btnBaseSet");
  EXPECT_EQ(status(), kComplete);
  ASSERT_TRUE(pty.WaitForReceived(17));
  EXPECT_EQ(ToHex(pty.Received()), kDefaultSet);

  pty.ClearReceived();
  click("btnSelfTest");
  EXPECT_EQ(status(), kComplete);
  click("btnBaseSet");
  ASSERT_TRUE(pty.WaitForReceived(19));
  EXPECT_EQ(ToHex(pty.Received()), "12 54 " + kDefaultSet);
  EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(WindowSendTest, BaseSetAndSelfTestThroughThePrintQueue) {
  PrivateCups cups;
  PELLICAR_START_PRIVATE_CUPS(cups, kQueue);
  printers.reset(); // the printers the server lists

  ASSERT_EQ(get<QComboBox>("cbbDriver")->currentText(), kQueue);
  ASSERT_EQ(get<TRadioGroup>("rgPort")->ItemIndex(), 0);
  click("btnBaseSet");
  EXPECT_EQ(status(), kComplete);
  click("btnSelfTest");
  EXPECT_EQ(status(), kComplete);

  ASSERT_TRUE(cups.WaitForFinishedJobs(kQueue, 4));
  ASSERT_TRUE(cups.Sink().WaitForReceived(4));
  EXPECT_THAT(cups.FinishedJobTitles(kQueue),
              ElementsAre("Base Parameter", "PNPA", "BAP", "SelfTest"));
  QStringList received;
  for (const QByteArray &job : cups.Sink().Received())
    received.append(job.toHex(' ').toUpper());
  EXPECT_THAT(received,
              ElementsAre("1F 73 02 00 00 00 00 00 FF 00 00", "1F 72 00", "1F 74 00", "12 54"));
  for (const PrivateCups::Job &job : cups.Jobs(kQueue))
    EXPECT_EQ(job.state, PrivateCups::kCompleted) << job.title.toStdString();
}

// ---- the outcome when nothing takes the bytes ----

TEST_F(WindowSendTest, ComChosenButNotOpenedSendsNothing) {
  TPseudoTerminal pty;
  ASSERT_TRUE(pty.Ok());
  choosePort(1);
  click("btnBaseSet");
  EXPECT_EQ(status(), kNoChannel);

  // Opened and closed again: still nothing goes out.
  ASSERT_TRUE(openSerial(pty.SlavePath()));
  click("btnOpenCOM");
  ASSERT_FALSE(form().SerialOpen);
  clearStatus();
  click("btnBaseSet");
  EXPECT_EQ(status(), kNoChannel);
  ASSERT_TRUE(openSerial(pty.SlavePath()));
  click("btnSelfTest");
  ASSERT_TRUE(pty.WaitForReceived(2));
  EXPECT_EQ(ToHex(pty.Received()), "12 54");
}

TEST_F(WindowSendTest, PendingConnectIsNoChannel) {
  UnansweringPort silent;
  ASSERT_TRUE(startConnect(silent.port()));
  EXPECT_FALSE(form().TcpConnected);
  click("btnBaseSet");
  EXPECT_EQ(status(), kNoChannel);
  click("btnConnect"); // abandon it before the port goes away
  EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(WindowSendTest, SpoolerWithNoPrinterIsSendFailed) {
  ASSERT_EQ(get<QComboBox>("cbbDriver")->count(), 0);
  click("btnBaseSet");
  EXPECT_EQ(status(), kSendFailed);
  clearStatus();
  click("btnSelfTest");
  EXPECT_EQ(status(), kSendFailed);
  // The panel's text goes with the next tick: a box says it, and why.
  ASSERT_EQ(boxes.Texts(), QStringList(2, kSendFailed));
  EXPECT_TRUE(boxes.shown[1].request.detail.contains(QStringLiteral("no print queue is installed")))
      << boxes.shown[1].request.detail.toStdString();
}

// ---- port selection ----

TEST_F(WindowSendTest, StartState) {
  EXPECT_EQ(get<TRadioGroup>("rgPort")->ItemIndex(), 0);
  EXPECT_FALSE(enabled("btnOpenCOM"));
  EXPECT_FALSE(enabled("btnConnect"));
  EXPECT_EQ(caption("btnOpenCOM"), QStringLiteral("Open"));
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  EXPECT_FALSE(form().SerialOpen);
  EXPECT_FALSE(form().TcpConnected);
}

TEST_F(WindowSendTest, EachItemEnablesOnlyItsButton) {
  struct Step {
    int item;
    bool open, connect;
  };
  for (const Step &s : {Step{1, true, false}, Step{2, false, true}, Step{0, false, false},
                        Step{2, false, true}, Step{1, true, false}, Step{0, false, false}}) {
    SCOPED_TRACE(s.item);
    choosePort(s.item);
    EXPECT_EQ(enabled("btnOpenCOM"), s.open);
    EXPECT_EQ(enabled("btnConnect"), s.connect);
  }
}

struct CloseCase {
  const char *label;
  int from; // 1: the serial port open, 2: connected over TCP
  int to;
  bool openEnabled, connectEnabled;
};

void PrintTo(const CloseCase &c, std::ostream *out) { *out << c.label; }

class ChangingThePortCloses : public WindowSendTest,
                              public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ChangingThePortCloses, WhatIsOpen) {
  const CloseCase &c = GetParam();
  TPseudoTerminal pty;
  FakePrinter printer;
  ASSERT_TRUE(pty.Ok());
  if (c.from == 1) {
    ASSERT_TRUE(openSerial(pty.SlavePath()));
    ASSERT_TRUE(SerialDeviceLocked(pty.SlavePath()));
  } else {
    ASSERT_TRUE(connectTcp(printer.port()));
    ASSERT_TRUE(printer.waitForConnections(1));
  }

  choosePort(c.to);
  EXPECT_FALSE(form().SerialOpen);
  EXPECT_FALSE(form().TcpConnected);
  EXPECT_EQ(caption("btnOpenCOM"), QStringLiteral("Open"));
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  EXPECT_EQ(enabled("btnOpenCOM"), c.openEnabled);
  EXPECT_EQ(enabled("btnConnect"), c.connectEnabled);
  if (c.from == 1) {
    EXPECT_FALSE(SerialDeviceLocked(pty.SlavePath())) << "the port was not closed";
  } else {
    EXPECT_TRUE(printer.waitForPeerEnd());
    EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Clean);
  }
  EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(u'|').toStdString();

  // Only the channel now chosen is served.
  click("btnSelfTest");
  EXPECT_EQ(status(), c.to == 0 ? kSendFailed : kNoChannel);
}

INSTANTIATE_TEST_SUITE_P(Items, ChangingThePortCloses,
                         ::testing::Values(CloseCase{"ComToEthernet", 1, 2, false, true},
                                           CloseCase{"ComToDriver", 1, 0, false, false},
                                           CloseCase{"EthernetToCom", 2, 1, true, false},
                                           CloseCase{"EthernetToDriver", 2, 0, false, false}),
                         [](const auto &c) { return std::string(c.param.label); });

TEST_F(WindowSendTest, OpenWithNoPortListedShowsTheError) {
  ASSERT_EQ(get<QComboBox>("cbbCOM")->count(), 0);
  choosePort(1);
  click("btnOpenCOM");
  ASSERT_EQ(boxes.shown.size(), 1);
  const MessageBoxRequest &box = boxes.shown[0].request;
  EXPECT_EQ(box.text, QStringLiteral("Error opening serial port."));
  EXPECT_EQ(box.caption, QStringLiteral("Pellicar"));
  EXPECT_EQ(box.icon, MsgIcon::Error);
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(caption("btnOpenCOM"), QStringLiteral("Open"));
  EXPECT_FALSE(form().SerialOpen);
}

TEST_F(WindowSendTest, PortTextThatIsNoIntegerStartsNoAttempt) {
  FakePrinter printer;
  // Connected once and disconnected, so that the last good port is known
  // to the client: a click that went on after the error would reach it.
  ASSERT_TRUE(connectTcp(printer.port()));
  click("btnConnect");
  ASSERT_FALSE(form().TcpConnected);
  ASSERT_TRUE(printer.waitForPeerEnd());

  type("edtETHPort", QStringLiteral("91OO"));
  click("btnConnect");
  ASSERT_EQ(boxes.shown.size(), 1);
  EXPECT_EQ(boxes.shown[0].request.text, QStringLiteral("'91OO' is not a valid integer value."));
  EXPECT_EQ(boxes.shown[0].request.caption, QStringLiteral("Pellicar"));
  EXPECT_EQ(boxes.shown[0].request.icon, MsgIcon::Error);
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  EXPECT_FALSE(WaitUntil([&] { return printer.connectionCount() > 1 || form().TcpConnected; }, 300))
      << "an attempt was started";
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
}

TEST_F(WindowSendTest, RefusedConnectionShowsTheErrorAndConnectAgain) {
  RefusingPort refusing;
  QString captionDuringBox;
  boxes.onShow = [&](const MessageBoxRequest &) { captionDuringBox = caption("btnConnect"); };
  choosePort(2);
  type("edtETHIP", QStringLiteral("127.0.0.1"));
  type("edtETHPort", QString::number(refusing.port()));
  click("btnConnect");
  ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.isEmpty(); }));
  test::RunEventLoopFor(50);
  ASSERT_EQ(boxes.shown.size(), 1) << boxes.Texts().join(u'|').toStdString();
  const test::RecordingMessageBoxes::Shown &shown = boxes.shown[0];
  EXPECT_EQ(shown.request.text, QStringLiteral("Connect To Printer Error"));
  EXPECT_EQ(shown.request.caption, QStringLiteral("Error"));
  EXPECT_EQ(shown.request.icon, MsgIcon::Error);
  EXPECT_EQ(shown.request.buttons, MsgButtons::Ok);
  EXPECT_EQ(shown.owner, &form());
  EXPECT_EQ(captionDuringBox, QStringLiteral("Connecting"));
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  EXPECT_FALSE(form().TcpConnected);

  // The next click starts a new attempt, which the printer now takes.
  FakePrinter printer;
  type("edtETHPort", QString::number(printer.port()));
  click("btnConnect");
  EXPECT_TRUE(WaitUntil([&] { return form().TcpConnected; }));
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Disconnect"));
}

TEST_F(WindowSendTest, PrinterClosingTheConnectionEndsTheChannel) {
  FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  printer.close();
  ASSERT_TRUE(WaitUntil([&] { return !form().TcpConnected; }));
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  EXPECT_TRUE(enabled("btnConnect"));
  click("btnBaseSet");
  EXPECT_EQ(status(), kNoChannel);
  EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(u'|').toStdString();

  // "Connect" makes a new connection, which the next SET uses.
  click("btnConnect");
  ASSERT_TRUE(WaitUntil([&] { return form().TcpConnected; }));
  click("btnSelfTest");
  ASSERT_TRUE(printer.waitForBytes(2));
  EXPECT_EQ(ToHex(printer.receivedOn(1)), "12 54");
  EXPECT_EQ(printer.receivedOn(0).size(), 0);
}

// A reset arrives as an error, not as a close: the window lets go of the
// broken connection, so that no action counts it as a channel.
TEST_F(WindowSendTest, PrinterResettingTheConnectionEndsTheChannel) {
  FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  printer.reset();
  ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.isEmpty(); }));
  EXPECT_EQ(boxes.shown[0].request.text, QStringLiteral("Connect To Printer Error"));
  EXPECT_EQ(boxes.shown[0].request.caption, QStringLiteral("Error"));
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  EXPECT_FALSE(form().TcpConnected);

  click("btnBaseSet");
  EXPECT_EQ(status(), kNoChannel);
  EXPECT_EQ(boxes.shown.size(), 1) << boxes.Texts().join(u'|').toStdString();

  click("btnConnect");
  ASSERT_TRUE(WaitUntil([&] { return form().TcpConnected; }));
  click("btnSelfTest");
  ASSERT_TRUE(printer.waitForBytes(2));
  EXPECT_EQ(ToHex(printer.receivedOn(1)), "12 54");
}

// The reset not yet noticed when SET is clicked: the first send fails, the
// connection is closed, and the outcome is a failure, not "Complete !".
TEST_F(WindowSendTest, SendIntoAResetConnectionIsSendFailed) {
  FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  printer.reset();
  click("btnBaseSet");
  EXPECT_EQ(status(), kSendFailed);
  EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("Connect To Printer Error")});
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  EXPECT_FALSE(form().TcpConnected);
  test::RunEventLoopFor(50);
  EXPECT_EQ(boxes.shown.size(), 1) << boxes.Texts().join(u'|').toStdString();
  click("btnSelfTest");
  EXPECT_EQ(status(), kNoChannel);
}

TEST_F(WindowSendTest, SerialLineGoingAwayClosesThePort) {
  TPseudoTerminal pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_TRUE(openSerial(pty.SlavePath()));
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.isEmpty(); }));
  const test::RecordingMessageBoxes::Shown &shown = boxes.shown[0];
  EXPECT_EQ(shown.request.text, QStringLiteral("Serial Port Error"));
  EXPECT_EQ(shown.request.caption, QStringLiteral("Error"));
  EXPECT_EQ(shown.request.icon, MsgIcon::Error);
  EXPECT_EQ(shown.request.buttons, MsgButtons::Ok);
  EXPECT_EQ(shown.owner, &form());
  EXPECT_FALSE(form().SerialOpen);
  EXPECT_EQ(caption("btnOpenCOM"), QStringLiteral("Open"));
  EXPECT_FALSE(SerialDeviceLocked(pty.SlavePath())) << "the port was left open";
  test::RunEventLoopFor(50);
  EXPECT_EQ(boxes.shown.size(), 1) << boxes.Texts().join(u'|').toStdString();
  click("btnBaseSet");
  EXPECT_EQ(status(), kNoChannel);
}

TEST_F(WindowSendTest, ClosingAHeldSerialLineSaysWhatWasNotWritten) {
  TPseudoTerminal pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_TRUE(openSerial(pty.SlavePath()));
  ASSERT_TRUE(pty.HoldOutput(true)); // the line takes nothing
  // 60 times Base SET's 17 bytes: a count that is written with a separator.
  for (int i = 0; i < 60; ++i) {
    click("btnBaseSet");
    ASSERT_EQ(status(), kComplete);
  }
  click("btnOpenCOM"); // "Close"
  EXPECT_FALSE(form().SerialOpen);
  ASSERT_EQ(boxes.shown.size(), 1);
  const test::RecordingMessageBoxes::Shown &shown = boxes.shown[0];
  EXPECT_EQ(shown.request.text, QStringLiteral("The last 1,020 bytes sent to the printer were not "
                                               "written to the serial port before it closed."));
  EXPECT_EQ(shown.request.caption, QStringLiteral("Error"));
  EXPECT_EQ(shown.request.icon, MsgIcon::Error);
  ASSERT_TRUE(pty.HoldOutput(false));
  test::RunEventLoopFor(20);
  EXPECT_TRUE(pty.Received().isEmpty());
}

// ---- an attempt the user abandons stays abandoned ----

enum class Abandon { Not, ClickConnecting, ChooseDriver, ChooseCom };

struct AbandonCase {
  const char *label;
  Abandon how;
};

void PrintTo(const AbandonCase &c, std::ostream *out) { *out << c.label; }

class AbandonedAttempt : public WindowSendTest,
                         public ::testing::WithParamInterface<AbandonCase> {};

// The attempt is held until the listener makes room; its retry then gets
// through unless the attempt was abandoned. The case that abandons
// nothing shows that the wait is long enough for the retry.
TEST_P(AbandonedAttempt, NeverBecomesTheChannel) {
  UnansweringPort silent;
  ASSERT_TRUE(startConnect(silent.port()));
  switch (GetParam().how) {
  case Abandon::Not:
    break;
  case Abandon::ClickConnecting:
    click("btnConnect");
    EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
    break;
  case Abandon::ChooseDriver:
    choosePort(0);
    break;
  case Abandon::ChooseCom:
    choosePort(1);
    break;
  }
  ASSERT_TRUE(silent.MakeRoom());
  const bool connected = WaitUntil([&] { return form().TcpConnected; }, 2500);
  if (GetParam().how == Abandon::Not) {
    EXPECT_TRUE(connected);
    EXPECT_EQ(caption("btnConnect"), QStringLiteral("Disconnect"));
    EXPECT_TRUE(silent.HasQueuedConnection());
  } else {
    EXPECT_FALSE(connected);
    EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
    EXPECT_FALSE(silent.HasQueuedConnection()) << "the abandoned attempt got through";
    click("btnSelfTest");
    EXPECT_NE(status(), kComplete);
  }
  // With "Driver：" and no print queue the self-test is a failed send, which
  // says so in a box.
  EXPECT_EQ(boxes.Texts(),
            GetParam().how == Abandon::ChooseDriver ? QStringList{kSendFailed} : QStringList{})
      << boxes.Texts().join(u'|').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Ways, AbandonedAttempt,
                         ::testing::Values(AbandonCase{"NotAbandoned", Abandon::Not},
                                           AbandonCase{"ConnectingClicked",
                                                       Abandon::ClickConnecting},
                                           AbandonCase{"DriverChosen", Abandon::ChooseDriver},
                                           AbandonCase{"ComChosen", Abandon::ChooseCom}),
                         [](const auto &c) { return std::string(c.param.label); });

} // namespace
} // namespace pellicar
