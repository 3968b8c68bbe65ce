// Raw jobs through a real CUPS server that the test starts itself, to a
// printer on 127.0.0.1 that records what it receives; and what a send does
// when there is no server, or one that does not answer.

#include "channels/spooler_channel.h"
#include "platform/printer_list.h"
#include "support/private_cups.h"
#include "support/wait.h"
#include "support/withholding_proxy.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pellicar {
namespace {

using test::PrivateCups;
using test::WithholdingProxy;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

const QString kQueue = QStringLiteral("receipt");

// The allowance the window gives one action's jobs, and what the clock may
// add to it on a loaded machine.
constexpr int kActionMs = 2000;
constexpr qint64 kActionBoundMs = kActionMs + 300;

// A server that accepts and never answers costs a send the spooler's
// timeout (a second) once: the request goes out without waiting for the
// server's go-ahead, and the steps after the first failure do not wait.
// Beyond it, what a loaded machine may add.
constexpr qint64 kBoundMs = 1000 + 500;

QByteArray Pattern(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i)
    bytes[i] = char(i * 7 + i / 256);
  return bytes;
}

JobDescription RawJob(const QString &title) { return {title, QString(), QStringLiteral("RAW")}; }

// Passes every step on to a real spooler and counts the writes.
class CountingSpooler : public Spooler {
public:
  explicit CountingSpooler(Spooler &real) : real_(real) {}
  bool OpenPrinter(const QString &printer) override { return real_.OpenPrinter(printer); }
  bool StartDoc(const JobDescription &job) override { return real_.StartDoc(job); }
  bool StartPage() override { return real_.StartPage(); }
  qint32 Write(const char *data, qint32 count) override {
    writes.push_back(count);
    return real_.Write(data, count);
  }
  bool EndPage() override { return real_.EndPage(); }
  bool EndDoc() override { return real_.EndDoc(); }
  void ClosePrinter() override { real_.ClosePrinter(); }

  std::vector<qint32> writes;

private:
  Spooler &real_;
};

// Sets CUPS_SERVER for the life of the object.
class ServerVariable {
public:
  explicit ServerVariable(const QByteArray &value)
      : had_(qEnvironmentVariableIsSet("CUPS_SERVER")), previous_(qgetenv("CUPS_SERVER")) {
    qputenv("CUPS_SERVER", value);
  }
  ~ServerVariable() {
    if (had_)
      qputenv("CUPS_SERVER", previous_);
    else
      qunsetenv("CUPS_SERVER");
  }

private:
  bool had_;
  QByteArray previous_;
};

class SpoolerChannelTest : public ::testing::Test {
protected:
  void SetUp() override {
    PELLICAR_START_PRIVATE_CUPS(cups_, kQueue);
    spooler_ = CreateSystemSpooler();
  }

  // Waits until `count` jobs of the queue are finished and the printer has
  // received `count` connections.
  void WaitForJobs(int count) {
    ASSERT_TRUE(cups_.Sink().WaitForReceived(count)) << cups_.Sink().ConnectionCount();
    ASSERT_TRUE(cups_.WaitForFinishedJobs(kQueue, count));
  }

  PrivateCups cups_;
  std::unique_ptr<Spooler> spooler_;
};

TEST_F(SpoolerChannelTest, BufferArrivesWholeAsOneJobTitledByItsDocumentName) {
  const QByteArray data = QByteArray::fromHex("1f1101030001ff000000ff");
  ASSERT_EQ(data.size(), 11);
  EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("Base Parameter"), data), 11);
  WaitForJobs(1);
  EXPECT_THAT(cups_.Sink().Received(), ElementsAre(data));
  const QList<PrivateCups::Job> jobs = cups_.Jobs(kQueue);
  ASSERT_EQ(jobs.size(), 1);
  EXPECT_EQ(jobs[0].title, QStringLiteral("Base Parameter"));
  EXPECT_EQ(jobs[0].state, PrivateCups::kCompleted);
}

TEST_F(SpoolerChannelTest, EachCallIsAJobOfItsOwnInTheOrderOfTheCalls) {
  const QByteArray base = Pattern(11), pnpa = QByteArray::fromHex("1f1201"),
                   bap = QByteArray::fromHex("1f1300");
  EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("Base Parameter"), base), 11);
  EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("PNPA"), pnpa), 3);
  EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("BAP"), bap), 3);
  WaitForJobs(3);
  EXPECT_THAT(cups_.Sink().Received(), ElementsAre(base, pnpa, bap));
  EXPECT_THAT(
      cups_.FinishedJobTitles(kQueue),
      ElementsAre(QStringLiteral("Base Parameter"), QStringLiteral("PNPA"), QStringLiteral("BAP")));
}

TEST_F(SpoolerChannelTest, StreamArrivesWholeInWritesOf1024Bytes) {
  struct Case {
    int size;
    std::vector<qint32> writes;
  };
  const std::vector<Case> cases = {
      {2048, {1024, 1024}}, {1025, {1024, 1}}, {5000, {1024, 1024, 1024, 1024, 904}}};
  int jobs = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.size);
    CountingSpooler counting(*spooler_);
    QByteArray data = Pattern(c.size);
    QBuffer stream(&data);
    ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
    EXPECT_TRUE(SendRawStream(counting, kQueue, QStringLiteral("LOGO TO NVRAM"), stream));
    EXPECT_EQ(counting.writes, c.writes);
    WaitForJobs(++jobs);
    EXPECT_EQ(cups_.Sink().Received().last(), data);
  }
}

TEST_F(SpoolerChannelTest, StreamPositionedInTheMiddleIsSentFromThere) {
  CountingSpooler counting(*spooler_);
  QByteArray data = Pattern(3000);
  QBuffer stream(&data);
  ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
  ASSERT_TRUE(stream.seek(1000));
  EXPECT_TRUE(SendRawStream(counting, kQueue, QStringLiteral("update"), stream));
  EXPECT_EQ(counting.writes, (std::vector<qint32>{1024, 976}));
  WaitForJobs(1);
  EXPECT_THAT(cups_.Sink().Received(), ElementsAre(data.mid(1000)));
}

TEST_F(SpoolerChannelTest, EmptyStreamMakesAJobWithoutDataAndLeavesNoneOpen) {
  CountingSpooler counting(*spooler_);
  QBuffer stream;
  ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
  EXPECT_TRUE(SendRawStream(counting, kQueue, QStringLiteral("update"), stream));
  EXPECT_THAT(counting.writes, IsEmpty());
  // The server refuses an empty document; the job is then cancelled, not
  // left waiting on the queue for data that never comes.
  ASSERT_TRUE(cups_.WaitForFinishedJobs(kQueue, 1));
  const QList<PrivateCups::Job> jobs = cups_.Jobs(kQueue);
  ASSERT_EQ(jobs.size(), 1);
  EXPECT_EQ(jobs[0].title, QStringLiteral("update"));
  EXPECT_EQ(jobs[0].state, PrivateCups::kCanceled);
  // A job that is over made no connection to the printer.
  EXPECT_EQ(cups_.Sink().ConnectionCount(), 0);
}

TEST_F(SpoolerChannelTest, JobsNotEndedProperlyAreCancelledNotLeftOpenOrPrinted) {
  // A job whose document never started, and one closed in the middle of its
  // document.
  ASSERT_TRUE(spooler_->OpenPrinter(kQueue));
  ASSERT_TRUE(spooler_->StartDoc(RawJob(QStringLiteral("no document"))));
  EXPECT_FALSE(spooler_->EndDoc());
  spooler_->ClosePrinter();

  ASSERT_TRUE(spooler_->OpenPrinter(kQueue));
  ASSERT_TRUE(spooler_->StartDoc(RawJob(QStringLiteral("half sent"))));
  ASSERT_TRUE(spooler_->StartPage());
  ASSERT_EQ(spooler_->Write("abcde", 5), 5);
  spooler_->ClosePrinter();

  ASSERT_TRUE(cups_.WaitForFinishedJobs(kQueue, 2));
  const QList<PrivateCups::Job> jobs = cups_.Jobs(kQueue);
  ASSERT_EQ(jobs.size(), 2);
  EXPECT_EQ(jobs[0].state, PrivateCups::kCanceled);
  EXPECT_EQ(jobs[1].state, PrivateCups::kCanceled);
  EXPECT_EQ(cups_.Sink().ConnectionCount(), 0);
}

TEST_F(SpoolerChannelTest, UnknownOrMalformedPrinterNamesOpenNothing) {
  for (const QString &name :
       {QStringLiteral("no-such-queue"), QStringLiteral("../receipt"),
        QStringLiteral("receipt?x=1"), QStringLiteral("receipt#1"), QStringLiteral("re ceipt"),
        QStringLiteral("receipt/"), QString(129, QLatin1Char('r'))}) {
    SCOPED_TRACE(name.toStdString());
    EXPECT_EQ(SendRawBuffer(*spooler_, name, QStringLiteral("Set IP"), Pattern(6)), 0);
    QBuffer stream;
    stream.setData(Pattern(10));
    ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
    EXPECT_FALSE(SendRawStream(*spooler_, name, QStringLiteral("update"), stream));
  }
  EXPECT_THAT(cups_.Jobs(kQueue), IsEmpty());
}

TEST_F(SpoolerChannelTest, QueueThatRejectsJobsMakesNoJob) {
  QString error;
  ASSERT_TRUE(cups_.SetAccepting(kQueue, false, &error)) << error.toStdString();
  EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("Set IP"), Pattern(6)), 0);
  EXPECT_THAT(cups_.Jobs(kQueue), IsEmpty());

  ASSERT_TRUE(cups_.SetAccepting(kQueue, true, &error)) << error.toStdString();
  EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("Set IP"), Pattern(6)), 6);
  WaitForJobs(1);
}

TEST_F(SpoolerChannelTest, PrinterListShowsTheServersQueues) {
  QString error;
  ASSERT_TRUE(cups_.AddRawQueue(QStringLiteral("kitchen"), 0, &error)) << error.toStdString();
  EXPECT_THAT(ListInstalledPrinters(), UnorderedElementsAre(kQueue, QStringLiteral("kitchen")));
}

TEST_F(SpoolerChannelTest, ServerThatStopsAnsweringFailsTheSendWithinTheBound) {
  // Hung before the call: the printer cannot be opened.
  cups_.Pause();
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("Set IP"), Pattern(6)), 0);
  EXPECT_LT(clock.elapsed(), kBoundMs);
  cups_.Resume();

  // Hung in the middle of the job, within one action's allowance: the
  // library may still take the document into its buffer, but the job does
  // not end as printing, the steps after the first failure do not wait
  // again, and the cancel that cannot get through is reported with the job
  // and the server.
  spooler_->SetDeadline(QDeadlineTimer(kActionMs));
  ASSERT_TRUE(spooler_->OpenPrinter(kQueue));
  ASSERT_TRUE(spooler_->StartDoc(RawJob(QStringLiteral("hung"))));
  const int id = cups_.Jobs(kQueue).value(0).id;
  cups_.Pause();
  clock.restart();
  spooler_->StartPage();
  spooler_->Write("abc", 3);
  spooler_->EndPage();
  EXPECT_FALSE(spooler_->EndDoc());
  spooler_->ClosePrinter();
  EXPECT_LT(clock.elapsed(), kActionBoundMs);
  const QStringList unsettled = spooler_->TakeUnsettledJobs();
  ASSERT_EQ(unsettled.size(), 1);
  EXPECT_EQ(unsettled[0],
            QStringLiteral("The print server %1 did not confirm job %2 \"hung\" on queue "
                           "receipt, and it could not be cancelled: it is held there and prints "
                           "only if someone releases it.")
                .arg(cups_.Server())
                .arg(id));
  EXPECT_THAT(spooler_->TakeUnsettledJobs(), IsEmpty());
  cups_.Resume();
  spooler_->SetDeadline(QDeadlineTimer(QDeadlineTimer::Forever));

  // Once the server answers again the job is still held, or cancelled by
  // the request that reached it late; it never prints.
  const QList<PrivateCups::Job> jobs = cups_.Jobs(kQueue);
  ASSERT_EQ(jobs.size(), 1);
  EXPECT_THAT(jobs[0].state, ::testing::AnyOf(PrivateCups::kHeld, PrivateCups::kCanceled));

  // And the server is usable again afterwards.
  EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("Set IP"), Pattern(6)), 6);
  EXPECT_TRUE(cups_.Sink().WaitForReceived(1));
  EXPECT_THAT(cups_.Sink().Received(), ElementsAre(Pattern(6)));
}

// ---- a print server whose answers stop in the middle of a job ----

class SpoolerAnswerLostTest : public SpoolerChannelTest {
protected:
  void SetUp() override {
    SpoolerChannelTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    QString error;
    ASSERT_TRUE(
        proxy_.Start(cups_.Server(), cups_.Folder() + QStringLiteral("/proxy.sock"), &error))
        << error.toStdString();
    server_.emplace(QFile::encodeName(proxy_.Path()));
  }

  WithholdingProxy proxy_;
  std::optional<ServerVariable> server_;
};

TEST_F(SpoolerAnswerLostTest, JobIsSentOnlyWhenConfirmedAndNeverPrintsAfterItFailed) {
  struct Case {
    const char *name;
    int operation;
    WithholdingProxy::Withhold what;
    int state;             // the job's state once the server is reached
    const char *unsettled; // how the message about the job ends; none: no message
  };
  using W = WithholdingProxy::Withhold;
  const Case cases[] = {
      // The server has the whole document: it would print, were it not held.
      {"the document's answer is lost", WithholdingProxy::kSendDocument, W::Answers,
       PrivateCups::kCanceled, nullptr},
      {"the document is cut off", WithholdingProxy::kSendDocument, W::Everything,
       PrivateCups::kCanceled, nullptr},
      // The job's state, asked on a fresh connection, confirms the release.
      {"the release's answer is lost", WithholdingProxy::kReleaseJob, W::Answers,
       PrivateCups::kCompleted, nullptr},
      {"the release is cut off", WithholdingProxy::kReleaseJob, W::Everything,
       PrivateCups::kCanceled, nullptr},
      // Last: the server stays out of reach. Whether the release was taken
      // cannot be known, and the message says so.
      {"the server stops at the release", WithholdingProxy::kReleaseJob, W::Server,
       PrivateCups::kHeld, "it may still print."},
  };
  const QByteArray data = Pattern(11);
  int printed = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const bool prints = c.state == PrivateCups::kCompleted;
    proxy_.Arm(c.operation, c.what);
    spooler_->SetDeadline(QDeadlineTimer(kActionMs));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(SendRawBuffer(*spooler_, kQueue, QStringLiteral("Base Parameter"), data),
              prints ? 11 : 0);
    EXPECT_LT(clock.elapsed(), kActionBoundMs);
    EXPECT_TRUE(proxy_.Fired());
    const QStringList unsettled = spooler_->TakeUnsettledJobs();

    // Asked past the proxy: the server itself.
    QList<PrivateCups::Job> jobs;
    ASSERT_TRUE(test::WaitUntil([&] {
      jobs = cups_.Jobs(kQueue);
      return !jobs.isEmpty() && (jobs.last().finished() || jobs.last().state == c.state);
    }));
    EXPECT_EQ(jobs.last().state, c.state);
    if (c.unsettled == nullptr) {
      EXPECT_THAT(unsettled, IsEmpty()) << "fresh connections get through";
    } else {
      ASSERT_EQ(unsettled.size(), 1);
      EXPECT_TRUE(unsettled[0].startsWith(
          QStringLiteral("The print server %1 did not confirm job %2 \"Base Parameter\"")
              .arg(proxy_.Path())
              .arg(jobs.last().id)))
          << unsettled[0].toStdString();
      EXPECT_TRUE(unsettled[0].endsWith(QLatin1String(c.unsettled))) << unsettled[0].toStdString();
    }
    if (prints) {
      ASSERT_TRUE(cups_.Sink().WaitForReceived(++printed));
      EXPECT_EQ(cups_.Sink().Received().last(), data);
    }
    EXPECT_EQ(cups_.Sink().ConnectionCount(), printed);
  }
}

// A listening socket that never accepts: the kernel completes connections
// to it, and nothing ever answers.
class SilentListener {
public:
  ~SilentListener() {
    if (fd_ >= 0)
      close(fd_);
  }
  bool ListenUnix(const QString &path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    return fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
           listen(fd_, 8) == 0;
  }
  // Binds 127.0.0.1 on a free port; with `listening` false the port is
  // then closed again, so that connections to it are refused.
  quint16 BindLoopback(bool listening) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
      return 0;
    if (listening && listen(fd_, 8) != 0)
      return 0;
    if (!listening) {
      close(fd_);
      fd_ = -1;
    }
    return ntohs(address.sin_port);
  }

private:
  int fd_ = -1;
};

TEST(SpoolerWithoutServerTest, ListIsEmptyAndSendsFailWithinTheBound) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  SilentListener silentUnix, silentTcp, closedTcp;
  ASSERT_TRUE(silentUnix.ListenUnix(folder.filePath(QStringLiteral("silent.sock"))));
  const quint16 silentPort = silentTcp.BindLoopback(true);
  const quint16 closedPort = closedTcp.BindLoopback(false);
  ASSERT_NE(silentPort, 0);
  ASSERT_NE(closedPort, 0);

  const std::vector<std::pair<const char *, QByteArray>> servers = {
      {"no socket", QFile::encodeName(folder.filePath(QStringLiteral("absent.sock")))},
      {"socket that never answers",
       QFile::encodeName(folder.filePath(QStringLiteral("silent.sock")))},
      {"port that never answers", "127.0.0.1:" + QByteArray::number(silentPort)},
      {"closed port", "127.0.0.1:" + QByteArray::number(closedPort)},
  };
  const std::unique_ptr<Spooler> spooler = CreateSystemSpooler();
  for (const auto &[name, server] : servers) {
    SCOPED_TRACE(name);
    ServerVariable variable(server);
    QElapsedTimer clock;

    clock.start();
    EXPECT_THAT(ListInstalledPrinters(), IsEmpty());
    EXPECT_LT(clock.elapsed(), kBoundMs);

    clock.restart();
    EXPECT_EQ(SendRawBuffer(*spooler, kQueue, QStringLiteral("Base Parameter"), Pattern(11)), 0);
    EXPECT_LT(clock.elapsed(), kBoundMs);

    QByteArray data = Pattern(2048);
    QBuffer stream(&data);
    ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
    clock.restart();
    EXPECT_FALSE(SendRawStream(*spooler, kQueue, QStringLiteral("update"), stream));
    EXPECT_LT(clock.elapsed(), kBoundMs);
    EXPECT_EQ(stream.pos(), 0) << "nothing was read: no job was made";
  }
}

} // namespace
} // namespace pellicar
