// --queue: raw jobs through a private print server started by the test, to
// a printer on 127.0.0.1 that records what each job delivered.

#include "cli/cli_process.h"
#include "support/bmp_writer.h"
#include "support/firmware_files.h"
#include "support/private_cups.h"
#include "support/withholding_proxy.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace pellicar::test {
namespace {

using ::testing::ElementsAre;

const QString kQueue = QStringLiteral("receipt");

class CliQueueTest : public ::testing::Test {
protected:
  void SetUp() override {
    PELLICAR_START_PRIVATE_CUPS(cups_, kQueue);
    ASSERT_TRUE(folder_.isValid());
  }

  // Runs the tool on the queue; CUPS_SERVER points at the private server.
  CliResult Run(const QStringList &command, const QString &queue = kQueue) {
    return RunCliProcess(QStringList{QStringLiteral("--queue"), queue} + command);
  }

  void WaitForJobs(int count) {
    ASSERT_TRUE(cups_.Sink().WaitForReceived(count)) << cups_.Sink().ConnectionCount();
    ASSERT_TRUE(cups_.WaitForFinishedJobs(kQueue, count));
  }

  PrivateCups cups_;
  QTemporaryDir folder_;
};

TEST_F(CliQueueTest, EverySequenceIsAJobOfItsOwn) {
  const CliResult result =
      Run({QStringLiteral("base"), QStringLiteral("--reprint"), QStringLiteral("on")});
  ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.out.isEmpty());
  WaitForJobs(3);
  EXPECT_THAT(cups_.Sink().Received(),
              ElementsAre(QByteArray::fromHex("1F73020000000000FF0000"),
                          QByteArray::fromHex("1F7201"), QByteArray::fromHex("1F7400")));
  EXPECT_THAT(
      cups_.FinishedJobTitles(kQueue),
      ElementsAre(QStringLiteral("Base Parameter"), QStringLiteral("PNPA"), QStringLiteral("BAP")));
}

TEST_F(CliQueueTest, FirmwareIsOneJobHoldingTheImage) {
  const QString path = folder_.filePath(QStringLiteral("printer.bin"));
  const QByteArray file = WriteValidFirmware(path, 10000, 7);
  ASSERT_FALSE(file.isEmpty());
  const CliResult result = Run({QStringLiteral("firmware"), path});
  ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  // Standard error is not a terminal here: no progress bar.
  EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
  WaitForJobs(1);
  EXPECT_THAT(cups_.Sink().Received(), ElementsAre(ExpectedFirmwareImage(file)));
  EXPECT_THAT(cups_.FinishedJobTitles(kQueue), ElementsAre(QStringLiteral("update")));
}

TEST_F(CliQueueTest, LogoIsOneJob) {
  QImage picture(1, 1, QImage::Format_RGB32);
  picture.fill(Qt::black);
  const QString dot = SaveFile(folder_.path(), QStringLiteral("dot.bmp"), WriteBmp(picture, {}));
  const CliResult result = Run({QStringLiteral("logo"), dot, dot});
  ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  WaitForJobs(1);
  const QByteArray record = QByteArray::fromHex("0100010080000000000000 00");
  EXPECT_THAT(cups_.Sink().Received(),
              ElementsAre(QByteArray::fromHex("1C7102") + record + record));
  EXPECT_THAT(cups_.FinishedJobTitles(kQueue), ElementsAre(QStringLiteral("LOGO TO NVRAM")));
}

TEST_F(CliQueueTest, NoSuchQueueFailsWithOne) {
  for (const QStringList &command :
       {QStringList{QStringLiteral("selftest")},
        QStringList{QStringLiteral("blackmark"), QStringLiteral("enable")}}) {
    const CliResult result = Run(command, QStringLiteral("kitchen"));
    EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.errText().contains(
        QStringLiteral("Print queue 'kitchen': no such queue (the print server has receipt)")))
        << result.err.toStdString();
  }
  EXPECT_EQ(cups_.Sink().ConnectionCount(), 0);
}

TEST_F(CliQueueTest, QueueThatRejectsJobsFailsWithOne) {
  QString error;
  ASSERT_TRUE(cups_.SetAccepting(kQueue, false, &error)) << error.toStdString();
  const CliResult result = Run({QStringLiteral("base")});
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.errText().contains(QStringLiteral(
      "Print queue 'receipt' did not take the job 'Base Parameter'; 'PNPA', 'BAP' not sent.")))
      << result.err.toStdString();
}

// Each case with a server of its own: one that is frozen, or one behind a
// proxy that stops passing its answers on at the document.
TEST(CliQueueServerStopsTest, FailsWithinTheTimeoutAndNothingPrints) {
  using W = WithholdingProxy::Withhold;
  struct Case {
    const char *name;
    std::optional<W> withhold; // at the document; none: the server frozen from the start
    QString message;
    int jobState; // of the one job made; 0: none made
  };
  const QString notSent = QStringLiteral("'Base Parameter', 'PNPA', 'BAP' not sent.");
  const Case cases[] = {
      {"frozen from the start", std::nullopt,
       QStringLiteral("Print queue 'receipt': no such queue, or the print server cannot be "
                      "reached in time; ") +
           notSent,
       0},
      {"the document's answer is lost: the job is cancelled on a fresh connection", W::Answers,
       QStringLiteral("Print queue 'receipt' did not take the job 'Base Parameter'; 'PNPA', "
                      "'BAP' not sent."),
       PrivateCups::kCanceled},
      {"the server stops at the document: the job stays held, and the tool says so", W::Server,
       QStringLiteral("it could not be cancelled: it is held there and prints only if someone "
                      "releases it."),
       PrivateCups::kHeld},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PrivateCups cups;
    PELLICAR_START_PRIVATE_CUPS(cups, kQueue);
    WithholdingProxy proxy;
    CliOptions options;
    if (c.withhold) {
      QString error;
      ASSERT_TRUE(proxy.Start(cups.Server(), cups.Folder() + QStringLiteral("/proxy.sock"), &error))
          << error.toStdString();
      proxy.Arm(WithholdingProxy::kSendDocument, *c.withhold);
      options.environment.insert(QStringLiteral("CUPS_SERVER"), proxy.Path());
    } else {
      cups.Pause();
    }
    QElapsedTimer clock;
    clock.start();
    const CliResult result =
        RunCliProcess({QStringLiteral("--timeout"), QStringLiteral("2"), QStringLiteral("--queue"),
                       kQueue, QStringLiteral("base")},
                      options);
    const qint64 elapsed = clock.elapsed();
    cups.Resume();
    EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.errText().contains(c.message)) << result.err.toStdString();
    // The whole command; beyond it, starting the process on a loaded machine.
    EXPECT_LT(elapsed, 2000 + 1000);

    const QList<PrivateCups::Job> jobs = cups.Jobs(kQueue);
    if (c.jobState == 0) {
      EXPECT_TRUE(jobs.isEmpty());
    } else {
      ASSERT_EQ(jobs.size(), 1) << "the jobs after the failed one are not tried";
      EXPECT_EQ(jobs[0].state, c.jobState);
      if (c.jobState == PrivateCups::kHeld) {
        EXPECT_TRUE(result.errText().contains(
            QStringLiteral("The print server %1 did not confirm job %2 \"Base Parameter\" on "
                           "queue receipt")
                .arg(proxy.Path())
                .arg(jobs[0].id)))
            << result.err.toStdString();
      }
    }
    EXPECT_EQ(cups.Sink().ConnectionCount(), 0);
  }
}

} // namespace
} // namespace pellicar::test
