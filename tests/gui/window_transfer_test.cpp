// Long transfers through the window over a real TCP connection to a printer
// on 127.0.0.1 that reads slowly: the progress bar in the status bar, the
// outcome once the printer has every byte (or how far it got), and closing
// the window while a transfer runs.

#include "channels/client_socket.h"
#include "support/fake_printer.h"
#include "support/firmware_files.h"
#include "support/window_fixture.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::FakePrinter;
using test::WaitUntil;

// A firmware image of 6 MiB and its prefix: the kernel takes a few MB of it
// at once on loopback, so much of the transfer waits for the printer.
constexpr qsizetype kFirmwareSize = 6 << 20;
const QString kImageSize = QStringLiteral("6,291,462");

// The printer, with its small receive buffer, reads every 2 ms what has
// arrived (a few KiB): about 2 MB/s, so the upload takes seconds, the way a
// slow printer makes it take minutes.
constexpr int kSlowBytes = 16 << 10;
constexpr int kSlowIntervalMs = 2;
// Bytes the printer's side may have acknowledged but not yet read: its
// receive buffer and one read's worth, generously.
constexpr qsizetype kUnreadSlack = 256 << 10;

const QString kKeepConnected = QStringLiteral("Keep The Printer Connected Then Press OK!");

std::string Joined(const QStringList &texts) { return texts.join(QLatin1Char('|')).toStdString(); }

qint64 CountIn(const QString &text) { return QString(text).remove(QLatin1Char(',')).toLongLong(); }

class WindowTransferTest : public test::WindowFixture {
protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  // Connects to `printer` and checks a valid firmware file in the window;
  // returns the image the printer must receive for it.
  QByteArray prepareUpload(FakePrinter &printer) {
    EXPECT_TRUE(connectTcp(printer.port()));
    const QString path = dir_.filePath(QStringLiteral("fw.bin"));
    const QByteArray file = test::WriteValidFirmware(path, kFirmwareSize, 11);
    EXPECT_FALSE(file.isEmpty());
    files.nextFiles.push_back(path);
    click("btnChoseFW");
    EXPECT_TRUE(boxes.shown.isEmpty()) << shownTexts();
    return test::ExpectedFirmwareImage(file);
  }

  std::string shownTexts() const { return Joined(boxes.Texts()); }

  QProgressBar *bar() { return get<QProgressBar>("statAllTransfer"); }
  bool barShown() { return bar()->isVisibleTo(&form()); }

  // The box that says how far a transfer got, once it has been shown.
  const MessageBoxRequest *stoppedBox() {
    for (const auto &box : boxes.shown)
      if (box.request.text.contains(QLatin1String(" stopped after ")))
        return &box.request;
    return nullptr;
  }

  QTemporaryDir dir_;
};

TEST_F(WindowTransferTest, BarFollowsTheUploadAndCompleteWaitsForThePrinter) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  const QByteArray image = prepareUpload(printer);
  form().show();
  EXPECT_FALSE(barShown());
  printer.readSlowly(kSlowBytes, kSlowIntervalMs);

  struct Sample {
    int value;
    QString text;
    QString panel;
  };
  QList<Sample> samples;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    if (barShown())
      samples.append({bar()->value(), bar()->text(), status()});
  });
  sampler.start(20);
  QElapsedTimer elapsed;
  elapsed.start();
  click("btnUpdateFW");
  ASSERT_TRUE(barShown());
  test::RunEventLoopFor(50);

  // Beside the status panel, inside the status bar; the clock still fits.
  auto *panel = get<QLabel>("statAllPanel0");
  EXPECT_TRUE(get<QWidget>("statAll")->rect().contains(bar()->geometry()));
  EXPECT_LT(panel->geometry().right(), bar()->geometry().left());
  EXPECT_LE(panel->sizeHint().width(), panel->width()) << panel->text().toStdString();
  EXPECT_LE(bar()->fontMetrics().horizontalAdvance(QStringLiteral("update: 67,108,870 of "
                                                                  "67,108,870 bytes")) +
                8,
            bar()->width());

  // The clock goes on in the panel while the bar runs.
  const QRegularExpression clock(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
  auto clockTexts = [&] {
    QSet<QString> texts;
    for (const Sample &s : samples)
      if (clock.match(s.panel).hasMatch())
        texts.insert(s.panel);
    return texts.size();
  };
  ASSERT_TRUE(WaitUntil([&] { return clockTexts() >= 2 || !barShown(); }, 60000));
  EXPECT_GE(clockTexts(), 2);

  // "Complete !" only once the printer holds about every byte, not when the
  // last byte went into our socket (megabytes before that).
  stopClock();
  ASSERT_TRUE(WaitUntil([&] { return status() == QLatin1String("Complete !"); }, 60000))
      << status().toStdString();
  EXPECT_GE(printer.receivedSize(), image.size() - kUnreadSlack);
  EXPECT_FALSE(barShown());
  sampler.stop();
  EXPECT_GE(samples.size(), elapsed.elapsed() / 20 / 3) << "the window held the event loop up";

  // The bar advanced, and said what it was sending.
  const QRegularExpression text(QStringLiteral("^update: ([\\d,]+) of %1 bytes$").arg(kImageSize));
  QSet<int> values;
  qint64 lastSent = -1;
  int lastValue = -1;
  for (const Sample &s : samples) {
    const auto match = text.match(s.text);
    ASSERT_TRUE(match.hasMatch()) << s.text.toStdString();
    const qint64 sent = CountIn(match.captured(1));
    EXPECT_GE(sent, lastSent);
    EXPECT_GE(s.value, lastValue);
    EXPECT_EQ(s.value, int(sent * bar()->maximum() / image.size()));
    lastSent = sent;
    lastValue = s.value;
    values.insert(s.value);
  }
  EXPECT_GE(values.size(), 3);

  ASSERT_TRUE(printer.waitForBytes(image.size(), 30000)) << printer.receivedSize();
  test::RunEventLoopFor(50);
  EXPECT_TRUE(printer.received() == image) << "bytes lost, doubled or out of order";
  EXPECT_TRUE(form().TcpConnected);
  EXPECT_EQ(boxes.shown.size(), 1) << "only the warning";
}

TEST_F(WindowTransferTest, PrinterResetMidUploadSaysHowFarItGot) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  const QByteArray image = prepareUpload(printer);
  stopClock();
  printer.readSlowly(kSlowBytes, kSlowIntervalMs);
  click("btnUpdateFW");
  ASSERT_TRUE(printer.waitForBytes(1 << 20, 30000));
  printer.reset();
  const qsizetype received = printer.receivedSize();

  ASSERT_TRUE(WaitUntil([&] { return stoppedBox() != nullptr; }, 30000)) << shownTexts();
  const MessageBoxRequest &box = *stoppedBox();
  const auto match =
      QRegularExpression(
          QStringLiteral("^The firmware upload stopped after ([\\d,]+) of %1 bytes\\.$")
              .arg(kImageSize))
          .match(box.text);
  ASSERT_TRUE(match.hasMatch()) << box.text.toStdString();
  // What the printer acknowledged: at least what it read, and not what only
  // went into our socket.
  const qint64 acknowledged = CountIn(match.captured(1));
  EXPECT_GE(acknowledged, received) << shownTexts();
  EXPECT_LE(acknowledged, received + kUnreadSlack);
  EXPECT_EQ(box.caption, QStringLiteral("Error"));
  EXPECT_EQ(box.icon, MsgIcon::Error);
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(status(), QStringLiteral("Send Failed !"));
  EXPECT_FALSE(barShown());
  EXPECT_FALSE(form().TcpConnected);
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  // Only the upload was under way: once the close has ended, nothing but
  // its own box says what did not arrive.
  ASSERT_TRUE(WaitUntil([] { return TClientSocket::ClosingConnections() == 0; }));
  test::RunEventLoopFor(50);
  EXPECT_EQ(shownTexts(),
            Joined({kKeepConnected, QStringLiteral("Connect To Printer Error"), box.text}));
}

// "Disconnect", once confirmed, abandons the upload (the window says how
// far it got) and resets the connection. Of what did not arrive, the
// upload's bytes are told once, by its own box; a command queued behind it
// has a box of its own.
TEST_F(WindowTransferTest, DisconnectMidUploadSaysWhatWasCutShort) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  prepareUpload(printer);
  stopClock();
  printer.pauseReading();
  click("btnUpdateFW");
  click("btnBaseSet"); // waits behind the upload
  boxes.answers.push_back(MsgResult::Yes);
  click("btnConnect");
  EXPECT_EQ(caption("btnConnect"), QStringLiteral("Connect"));
  ASSERT_TRUE(WaitUntil([&] { return stoppedBox() != nullptr; }));
  const auto stopped = QRegularExpression(QStringLiteral("^The firmware upload stopped after "
                                                         "([\\d,]+) of %1 bytes\\.$")
                                              .arg(kImageSize))
                           .match(stoppedBox()->text);
  ASSERT_TRUE(stopped.hasMatch()) << stoppedBox()->text.toStdString();
  EXPECT_LE(CountIn(stopped.captured(1)), kUnreadSlack) << "the printer read nothing";
  EXPECT_EQ(status(), QStringLiteral("Send Failed !"));

  printer.reset();
  ASSERT_TRUE(WaitUntil([] { return TClientSocket::ClosingConnections() == 0; }, 15000));
  test::RunEventLoopFor(50);
  const QString cutShort = QStringLiteral("The last 17 bytes sent to the printer did not reach it "
                                          "before the connection closed.");
  ASSERT_GE(boxes.shown.size(), 2);
  EXPECT_EQ(shownTexts(),
            Joined({kKeepConnected, boxes.shown[1].request.text, stoppedBox()->text, cutShort}));
  const MessageBoxRequest &report = boxes.shown.back().request;
  EXPECT_EQ(report.caption, QStringLiteral("Error"));
  EXPECT_EQ(report.icon, MsgIcon::Error);
  EXPECT_FALSE(form().TcpConnected);
}

TEST_F(WindowTransferTest, ClosingTheWindowMidUploadAsksFirst) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  const QByteArray image = prepareUpload(printer);
  stopClock();
  form().show();
  // With nothing running the window closes without a question.
  EXPECT_TRUE(form().close());
  EXPECT_TRUE(boxes.shown.isEmpty());
  form().show();

  printer.pauseReading();
  click("btnUpdateFW");
  boxes.shown.clear();
  boxes.answers.push_back(MsgResult::No);
  EXPECT_FALSE(form().close());
  ASSERT_EQ(boxes.shown.size(), 1);
  const MessageBoxRequest &question = boxes.shown[0].request;
  EXPECT_TRUE(
      QRegularExpression(
          QStringLiteral("^The firmware upload is still running \\(the printer "
                         "has acknowledged [\\d,]+ of %1 bytes\\)\\. Abandon it and close the "
                         "window\\?$")
              .arg(kImageSize))
          .match(question.text)
          .hasMatch())
      << question.text.toStdString();
  EXPECT_EQ(question.caption, QStringLiteral("Update"));
  EXPECT_EQ(question.icon, MsgIcon::Warning);
  EXPECT_EQ(question.buttons, MsgButtons::YesNo);
  EXPECT_TRUE(form().isVisible());

  // "No": the upload goes on to its end.
  printer.resumeReading();
  ASSERT_TRUE(WaitUntil([&] { return status() == QLatin1String("Complete !"); }, 60000));
  ASSERT_TRUE(printer.waitForBytes(image.size(), 30000));
  test::RunEventLoopFor(50);
  EXPECT_TRUE(printer.received() == image) << printer.receivedSize();

  // "Yes": the window closes, and the transfer goes with it, without a
  // further box.
  printer.pauseReading();
  click("btnUpdateFW");
  boxes.shown.clear();
  boxes.answers.push_back(MsgResult::Yes);
  EXPECT_TRUE(form().close());
  EXPECT_EQ(boxes.shown.size(), 1);
  form_.reset();
  test::RunEventLoopFor(50);
  EXPECT_EQ(boxes.shown.size(), 1);
  printer.resumeReading();
  ASSERT_TRUE(printer.waitForPeerEnd(-1, 30000));
  EXPECT_LT(printer.receivedSize(), 2 * image.size());
}

} // namespace
} // namespace pellicar
