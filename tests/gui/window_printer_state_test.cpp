// The printer's state in the window: the indicator at the right of the
// status bar, Printer → "Printer Status", and Printer → "Find Printers…",
// against pellicar-printer over TCP and its pseudo terminal.

#include "app/find_printers_dialog.h"
#include "support/printer_process.h"
#include "support/status_responder.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace pellicar::test {
namespace {

class WindowPrinterStateTest : public WindowFixture {
protected:
  WindowPrinterStateTest() { askPrinterState = true; }

  QString indicator() { return get<QLabel>("lblPrinterState")->text(); }
  bool indicatorReads(const QString &text) {
    return WaitUntil([&] { return indicator() == text; }, 5000);
  }
  qsizetype statusRequests(PrinterProcess &printer) {
    return printer.Log().filter(QStringLiteral("Status request")).size();
  }
};

TEST_F(WindowPrinterStateTest, AskedAfterConnectAndEachActionAndNeverWhileIdle) {
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start({QStringLiteral("--status"), QStringLiteral("paper-near-end")}))
      << printer.Message().toStdString();
  EXPECT_EQ(indicator(), QStringLiteral("No status through a print queue"));
  choosePort(2);
  EXPECT_EQ(indicator(), QStringLiteral("Not connected"));

  ASSERT_TRUE(connectTcp(printer.Port()));
  ASSERT_TRUE(indicatorReads(QStringLiteral("Paper low"))) << indicator().toStdString();
  // Its log line may come a moment after its answer.
  EXPECT_TRUE(WaitUntil([&] { return statusRequests(printer) == 4; }));
  click("btnSelfTest");
  ASSERT_TRUE(WaitUntil([&] { return statusRequests(printer) == 8; }));
  // Idle: nothing more is asked.
  RunEventLoopFor(1500);
  EXPECT_EQ(statusRequests(printer), 8);

  form().PrinterStatusAction()->trigger();
  ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.isEmpty(); }));
  EXPECT_EQ(boxes.Texts(),
            QStringList{QStringLiteral("online: yes\ncover: closed\npaper: near end\nfeed button: "
                                       "released\nerror: none\ndrawer: closed")});
  click("btnConnect"); // "Disconnect"
  EXPECT_EQ(indicator(), QStringLiteral("Not connected"));
}

TEST_F(WindowPrinterStateTest, EachStateAsThePrinterReportsIt) {
  const struct {
    const char *status; // pellicar-printer --status
    bool serial;
    const char *shown;
  } cases[] = {{"ready", false, "Ready"},
               {"offline", false, "Offline"},
               {"cover-open", true, "Cover open"},
               {"paper-out", true, "Paper out"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.status);
    form_.reset();
    PrinterProcess printer;
    ASSERT_TRUE(printer.Start({QStringLiteral("--status"), QString::fromLatin1(c.status)}));
    ASSERT_TRUE(c.serial ? openSerial(printer.SerialPath()) : connectTcp(printer.Port()));
    EXPECT_TRUE(indicatorReads(QString::fromLatin1(c.shown))) << indicator().toStdString();
  }
  // A printer that never answers.
  form_.reset();
  StatusResponder silent;
  silent.SetSilent(true);
  ASSERT_TRUE(connectTcp(silent.Port()));
  EXPECT_TRUE(indicatorReads(QStringLiteral("No answer"))) << indicator().toStdString();
}

TEST_F(WindowPrinterStateTest, FindPrintersScansOnlyWhenAskedAndFillsTheChoice) {
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
  const quint16 port = printer.Port();
  QProcess paperOut;
  ASSERT_TRUE(StartQuietPrinterAt(paperOut, QStringLiteral("127.0.0.3"), port,
                                  QStringLiteral("paper-out")));

  form().FindPrintersAction()->trigger();
  auto *dialog = form().findChild<TFindPrintersDialog *>();
  ASSERT_NE(dialog, nullptr);
  auto *range = dialog->findChild<QLineEdit *>(QStringLiteral("edtFindRange"));
  auto *list = dialog->findChild<QTreeWidget *>(QStringLiteral("lstFound"));
  // The /24 of "Ethernet ："'s address, and nothing looked at yet.
  EXPECT_EQ(range->text(), QStringLiteral("192.168.1.0/24"));
  EXPECT_FALSE(dialog->Running());
  EXPECT_EQ(list->topLevelItemCount(), 0);

  range->setText(QStringLiteral("127.0.0.1-127.0.0.4"));
  dialog->findChild<QLineEdit *>(QStringLiteral("edtFindPort"))->setText(QString::number(port));
  dialog->findChild<QPushButton *>(QStringLiteral("btnFind"))->click();
  EXPECT_TRUE(dialog->Running());
  ASSERT_TRUE(WaitUntil([&] { return !dialog->Running(); }, 10000));
  const QList<QTreeWidgetItem *> found =
      list->findItems(QStringLiteral("127.0.0.3:%1").arg(port), Qt::MatchExactly, 1);
  ASSERT_EQ(found.size(), 1);
  EXPECT_EQ(found[0]->text(2), QStringLiteral("Paper out"));
  EXPECT_EQ(list->findItems(QStringLiteral("127.0.0.1:%1").arg(port), Qt::MatchExactly, 1)
                .value(0)
                ->text(2),
            QStringLiteral("Ready"));

  list->setCurrentItem(found[0]);
  dialog->findChild<QPushButton *>(QStringLiteral("btnFindUse"))->click();
  EXPECT_EQ(get<TRadioGroup>("rgPort")->ItemIndex(), 2);
  EXPECT_EQ(get<QLineEdit>("edtETHIP")->text(), QStringLiteral("127.0.0.3"));
  EXPECT_EQ(get<QLineEdit>("edtETHPort")->text(), QString::number(port));
  EXPECT_TRUE(get<QPushButton>("btnConnect")->isEnabled());
  paperOut.terminate();
  paperOut.waitForFinished(5000);
}

TEST_F(WindowPrinterStateTest, AFindCanBeStopped) {
  form().FindPrintersAction()->trigger();
  auto *dialog = form().findChild<TFindPrintersDialog *>();
  ASSERT_NE(dialog, nullptr);
  dialog->findChild<QLineEdit *>(QStringLiteral("edtFindRange"))
      ->setText(QStringLiteral("127.0.0.0/20"));
  dialog->findChild<QPushButton *>(QStringLiteral("btnFind"))->click();
  dialog->findChild<QPushButton *>(QStringLiteral("btnFindStop"))->click();
  ASSERT_TRUE(WaitUntil([&] { return !dialog->Running(); }, 10000));
  EXPECT_TRUE(dialog->findChild<QLabel *>(QStringLiteral("lblFindState"))
                  ->text()
                  .endsWith(QStringLiteral("(stopped)")))
      << dialog->findChild<QLabel *>(QStringLiteral("lblFindState"))->text().toStdString();
}

} // namespace
} // namespace pellicar::test
