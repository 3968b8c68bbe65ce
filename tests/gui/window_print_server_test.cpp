// The window with "Driver：" chosen, against a private print server behind a
// proxy that stops passing the server's answers on at the document: how
// long an action holds the window, what it reports, and what becomes of
// the job once the server is reached again.

#include "support/firmware_files.h"
#include "support/private_cups.h"
#include "support/wait.h"
#include "support/window_fixture.h"
#include "support/withholding_proxy.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::PrivateCups;
using test::WithholdingProxy;

const QString kQueue = QStringLiteral("receipt");
// The window's allowance for one action's spooler jobs, and what a loaded
// machine may add to it.
constexpr qint64 kFreezeBoundMs = 2000 + 300;

class WindowPrintServerTest : public test::WindowFixture {
protected:
  void SetUp() override {
    PELLICAR_START_PRIVATE_CUPS(cups_, kQueue);
    QString error;
    ASSERT_TRUE(
        proxy_.Start(cups_.Server(), cups_.Folder() + QStringLiteral("/proxy.sock"), &error))
        << error.toStdString();
    // The private server restores the variable when it stops.
    qputenv("CUPS_SERVER", QFile::encodeName(proxy_.Path()));
    printers = QStringList{kQueue};
    ASSERT_TRUE(dir_.isValid());
  }
  void TearDown() override { form_.reset(); }

  // Clicks `button` and returns how long the click held the window.
  qint64 timedClick(const char *button) {
    QElapsedTimer clock;
    clock.start();
    click(button);
    return clock.elapsed();
  }

  PrivateCups cups_;
  WithholdingProxy proxy_;
  QTemporaryDir dir_;
};

TEST_F(WindowPrintServerTest, ActionIsBoundedFailedAndItsJobNeverPrints) {
  const QString path = dir_.filePath(QStringLiteral("fw.bin"));
  ASSERT_FALSE(test::WriteValidFirmware(path, 10000).isEmpty());
  files.nextFiles.push_back(path);
  click("btnChoseFW");

  struct Case {
    const char *name;
    const char *button;
    QString title; // of the one job the action makes before it gives up
    WithholdingProxy::Withhold withhold;
    int state;       // the job's state once the server is reached again
    bool reportsJob; // an error box names the job and the server
  };
  using W = WithholdingProxy::Withhold;
  // The last case leaves the server unreachable for good.
  const Case cases[] = {
      {"Base SET, the document's answer lost", "btnBaseSet", QStringLiteral("Base Parameter"),
       W::Answers, PrivateCups::kCanceled, false},
      {"Update, the document's answer lost", "btnUpdateFW", QStringLiteral("update"), W::Answers,
       PrivateCups::kCanceled, false},
      {"Base SET, the server stops at the document", "btnBaseSet", QStringLiteral("Base Parameter"),
       W::Server, PrivateCups::kHeld, true},
  };
  int jobs = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    proxy_.Arm(WithholdingProxy::kSendDocument, c.withhold);
    form().SetStatusText(QString());
    boxes.shown.clear();
    const qint64 frozen = timedClick(c.button);
    EXPECT_LT(frozen, kFreezeBoundMs);
    EXPECT_EQ(status(), QStringLiteral("Send Failed !"));

    const QList<PrivateCups::Job> made = cups_.Jobs(kQueue);
    ASSERT_EQ(made.size(), ++jobs) << "the jobs after the failed one are not tried";
    const PrivateCups::Job &job = made.last();
    EXPECT_EQ(job.title, c.title);
    EXPECT_EQ(job.state, c.state);
    EXPECT_EQ(cups_.Sink().ConnectionCount(), 0);

    QList<test::RecordingMessageBoxes::Shown> errors = boxes.shown;
    errors.removeIf(
        [](const auto &shown) { return shown.request.caption != QStringLiteral("Error"); });
    // A failed action also has its own box, naming the queue and the cause.
    const qsizetype sendFailed = errors.removeIf([](const auto &shown) {
      return shown.request.text == QStringLiteral("Send Failed !") &&
             shown.request.detail.startsWith(QStringLiteral("\"Driver\" (receipt): ")) &&
             shown.request.detail.contains(QStringLiteral("print server"));
    });
    EXPECT_EQ(sendFailed, 1) << boxes.Texts().join(u'|').toStdString();
    if (!c.reportsJob) {
      EXPECT_TRUE(errors.isEmpty()) << boxes.Texts().join(u'|').toStdString();
      continue;
    }
    ASSERT_EQ(errors.size(), 1) << boxes.Texts().join(u'|').toStdString();
    EXPECT_EQ(errors[0].owner, &form());
    EXPECT_EQ(errors[0].request.icon, MsgIcon::Error);
    EXPECT_EQ(errors[0].request.text,
              QStringLiteral("The print server %1 did not confirm job %2 \"%3\" on queue "
                             "receipt, and it could not be cancelled: it is held there and prints "
                             "only if someone releases it.")
                  .arg(proxy_.Path())
                  .arg(job.id)
                  .arg(c.title));
  }
}

} // namespace
} // namespace pellicar
