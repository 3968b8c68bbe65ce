// The download tab through the window, with the real channels: the logo
// list ("ADD", "Delete", the space label), "Download" of the logo set, and
// the firmware panel ("...", "Update").

#include "commands/base_commands.h"
#include "support/bmp_writer.h"
#include "support/fake_printer.h"
#include "support/firmware_files.h"
#include "support/private_cups.h"
#include "support/pty.h"
#include "support/window_fixture.h"

#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::BmpFormat;
using test::ExpectedFirmwareImage;
using test::PrivateCups;
using test::WindowFixture;
using ::testing::ElementsAre;

const QString kQueue = QStringLiteral("receipt");

// The record of an all-black w × h picture as the printer stores it: x, y
// low byte first, then 8·x columns of y bytes, top row in bit 7, the
// columns past w and the rows past h blank.
QByteArray BlackRecord(int w, int h) {
  const int x = (w + 7) / 8, y = (h + 7) / 8;
  QByteArray record;
  record.append(char(x & 0xFF)).append(char(x >> 8)).append(char(y & 0xFF)).append(char(y >> 8));
  for (int c = 0; c < 8 * x; ++c)
    for (int j = 0; j < y; ++j) {
      const int rows = c < w ? std::clamp(h - 8 * j, 0, 8) : 0;
      record.append(char(0xFF00 >> rows));
    }
  return record;
}

// The box that refuses a stream action while an 8 MiB firmware upload
// still goes out.
void ExpectStillRunningRefusal(const MessageBoxRequest &box, const char *caption) {
  EXPECT_TRUE(QRegularExpression(
                  QStringLiteral("^The firmware upload is still running \\(the printer has "
                                 "acknowledged [\\d,]+ of 8,388,614 bytes\\)\\. Wait until it has "
                                 "ended\\.$"))
                  .match(box.text)
                  .hasMatch())
      << box.text.toStdString();
  EXPECT_EQ(box.caption, QString::fromUtf8(caption));
  EXPECT_EQ(box.icon, MsgIcon::Error);
}

class WindowDownloadTest : public WindowFixture {
protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  // An all-black w × h bitmap file in the given variant.
  QString BlackBmp(const QString &name, int w, int h, BmpFormat format = {}) {
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(Qt::black);
    if (format.bitsPerPixel <= 8 && format.palette.isEmpty())
      format.palette = {0xFFFFFF, 0x000000}; // white, black
    return test::SaveFile(dir_.path(), name, test::WriteBmp(picture, format));
  }

  // "ADD" with `path` picked in the picture dialog.
  void add(const QString &path) {
    files.nextFiles.push_back(path);
    click("btnADDLOGO");
  }

  QStringList listed() {
    QStringList names;
    auto *list = get<QListWidget>("lstLOGOList");
    for (int i = 0; list != nullptr && i < list->count(); ++i)
      names.append(list->item(i)->text());
    return names;
  }
  QString spaceLabel() { return get<QLabel>("lblLOGOSIZE")->text(); }
  QString firmwareEdit() { return get<QLineEdit>("edtFirmwareFile")->text(); }

  void expectOnlyBox(const char *text, const char *caption, MsgIcon icon) {
    ASSERT_EQ(boxes.shown.size(), 1) << boxes.Texts().join(QLatin1Char('|')).toStdString();
    const MessageBoxRequest &box = boxes.shown[0].request;
    EXPECT_EQ(box.text, QString::fromUtf8(text));
    EXPECT_EQ(box.caption, QString::fromUtf8(caption));
    EXPECT_EQ(box.icon, icon);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
    EXPECT_EQ(boxes.shown[0].owner, &form());
  }

  QString firmwarePath(const char *name) { return dir_.filePath(QString::fromUtf8(name)); }

  // "..." with `path` picked (empty: the dialog is cancelled).
  void chooseFirmware(const QString &path) {
    if (!path.isEmpty())
      files.nextFiles.push_back(path);
    click("btnChoseFW");
  }

  // Proves that nothing went out on a channel before this moment: the
  // self-test sequence is sent after it, and the printer must receive
  // exactly that sequence and nothing in front of it.
  template <typename Received, typename Wait>
  void expectNothingSentBefore(Received received, Wait waitFor) {
    const QByteArray selfTest = BuildSelfTest().bytes;
    boxes.shown.clear();
    click("btnSelfTest");
    ASSERT_TRUE(waitFor(selfTest.size()));
    test::RunEventLoopFor(50);
    EXPECT_EQ(received().toHex(' '), selfTest.toHex(' '));
  }

  QTemporaryDir dir_;
};

// The logo set's tests over the private print server.
class WindowDownloadCupsTest : public WindowDownloadTest {
protected:
  void SetUp() override {
    WindowDownloadTest::SetUp();
    PELLICAR_START_PRIVATE_CUPS(cups_, kQueue);
    auto *driver = get<QComboBox>("cbbDriver");
    ASSERT_GE(driver->findText(kQueue), 0);
    driver->setCurrentIndex(driver->findText(kQueue));
  }
  void TearDown() override { form_.reset(); }

  // Waits for one finished job and returns what the printer received.
  QList<QByteArray> oneJob(const QString &title) {
    EXPECT_TRUE(cups_.Sink().WaitForReceived(1));
    EXPECT_TRUE(cups_.WaitForFinishedJobs(kQueue, 1));
    EXPECT_THAT(cups_.FinishedJobTitles(kQueue), ElementsAre(title));
    EXPECT_EQ(cups_.Jobs(kQueue).size(), 1);
    return cups_.Sink().Received();
  }

  PrivateCups cups_;
};

// ---- the logo list ----

TEST_F(WindowDownloadTest, CancelledPictureDialogChangesNothingNotEvenTheBlankLabel) {
  click("btnADDLOGO");
  ASSERT_EQ(files.requests.size(), 1);
  EXPECT_TRUE(listed().isEmpty());
  EXPECT_TRUE(spaceLabel().isEmpty());
  EXPECT_TRUE(boxes.shown.isEmpty());

  add(BlackBmp(QStringLiteral("a.bmp"), 8, 8));
  const QString label = spaceLabel();
  click("btnADDLOGO");
  EXPECT_EQ(listed(), QStringList{QStringLiteral("a.bmp")});
  EXPECT_EQ(spaceLabel(), label);
  EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(WindowDownloadTest, PictureDialogPreviewsAndOffersEveryFile) {
  const QString fits = BlackBmp(QStringLiteral("fits.bmp"), 12, 5);
  const QString wide = BlackBmp(QStringLiteral("wide.bmp"), 577, 1);
  click("btnADDLOGO");
  ASSERT_EQ(files.requests.size(), 1);
  const FileDialogRequest &request = files.requests[0];
  EXPECT_TRUE(request.filter.isEmpty());
  EXPECT_FALSE(request.mustExist) << "the name typed need not exist";
  ASSERT_TRUE(request.preview);
  EXPECT_EQ(request.preview(fits).size(), QSize(12, 5));
  EXPECT_TRUE(request.preview(wide).isNull());
}

TEST_F(WindowDownloadTest, ListShowsFileNamesAndLabelCountsExactBytes) {
  const QString logo = BlackBmp(QStringLiteral("shop logo.bmp"), 576, 100);
  add(logo);
  EXPECT_EQ(listed(), QStringList{QStringLiteral("shop logo.bmp")});
  EXPECT_EQ(spaceLabel(), QStringLiteral("Space: 7,495 Used, 58,044 Free"));

  // The same file again is listed again and takes its room twice.
  add(logo);
  EXPECT_EQ(listed(), QStringList(2, QStringLiteral("shop logo.bmp")));
  EXPECT_EQ(spaceLabel(), QStringLiteral("Space: 14,987 Used, 50,552 Free"));

  click("btnDeleteLOGO");
  click("btnDeleteLOGO");
  EXPECT_TRUE(listed().isEmpty());
  EXPECT_EQ(spaceLabel(), QStringLiteral("Space: 0,003 Used, 65,536 Free"));
  EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(WindowDownloadTest, DeleteTakesTheSelectedEntryOrElseTheLast) {
  // On an empty list nothing happens, the blank label stays blank.
  click("btnDeleteLOGO");
  EXPECT_TRUE(spaceLabel().isEmpty());
  EXPECT_TRUE(boxes.shown.isEmpty());

  add(BlackBmp(QStringLiteral("a.bmp"), 1, 1));   // 3 + 12
  add(BlackBmp(QStringLiteral("b.bmp"), 16, 16)); // + 36
  add(BlackBmp(QStringLiteral("c.bmp"), 9, 9));   // + 36
  EXPECT_EQ(spaceLabel(), QStringLiteral("Space: 0,087 Used, 65,452 Free"));

  auto *list = get<QListWidget>("lstLOGOList");
  list->setCurrentRow(0);
  click("btnDeleteLOGO");
  EXPECT_EQ(listed(), QStringList({QStringLiteral("b.bmp"), QStringLiteral("c.bmp")}));
  EXPECT_EQ(spaceLabel(), QStringLiteral("Space: 0,075 Used, 65,464 Free"));
  EXPECT_EQ(list->currentRow(), -1) << "nothing is selected after a delete";

  // Without a selection the last entry goes.
  click("btnDeleteLOGO");
  EXPECT_EQ(listed(), QStringList{QStringLiteral("b.bmp")});
  EXPECT_EQ(spaceLabel(), QStringLiteral("Space: 0,039 Used, 65,500 Free"));
  click("btnDeleteLOGO");
  click("btnDeleteLOGO");
  EXPECT_TRUE(listed().isEmpty());
  EXPECT_EQ(spaceLabel(), QStringLiteral("Space: 0,003 Used, 65,536 Free"));
  EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(WindowDownloadTest, PictureThatCannotBeConvertedIsListedUntilItsBoxCloses) {
  add(BlackBmp(QStringLiteral("kept.bmp"), 1, 1));
  const QString before = spaceLabel();

  QImage png(4, 4, QImage::Format_RGB32);
  png.fill(Qt::black);
  const QString pngPath = dir_.filePath(QStringLiteral("logo.png"));
  ASSERT_TRUE(png.save(pngPath, "PNG"));
  const struct {
    QString path;
    QString shown;
  } cases[] = {
      {BlackBmp(QStringLiteral("too wide.bmp"), 577, 1), QStringLiteral("too wide.bmp")},
      {pngPath, QStringLiteral("logo.png")},
      {test::SaveFile(dir_.path(), QStringLiteral("notes.bmp"), "not a bitmap at all"),
       QStringLiteral("notes.bmp")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.shown.toStdString());
    boxes.shown.clear();
    QStringList listedWhileOpen;
    boxes.onShow = [&](const MessageBoxRequest &) { listedWhileOpen = listed(); };
    add(c.path);
    boxes.onShow = nullptr;
    expectOnlyBox("Picture invalid", "Error", MsgIcon::Error);
    EXPECT_EQ(listedWhileOpen, QStringList({QStringLiteral("kept.bmp"), c.shown}));
    EXPECT_EQ(listed(), QStringList{QStringLiteral("kept.bmp")});
    EXPECT_EQ(spaceLabel(), before);
  }
}

// ---- "Download" of the logo set ----

TEST_F(WindowDownloadTest, DownloadOfAnEmptyListAsksForAFile) {
  test::FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  const QString statusBefore = status();
  click("btnDownloadLOGO");
  expectOnlyBox("Select A File", "Error!", MsgIcon::Error);
  EXPECT_EQ(status(), statusBefore);
  expectNothingSentBefore([&] { return printer.received(); },
                          [&](qsizetype n) { return printer.waitForBytes(n); });
}

TEST_F(WindowDownloadCupsTest, DownloadIsOneRawJobWithTheCommandAndEveryRecord) {
  BmpFormat oneBit, eightBit, topDown;
  oneBit.bitsPerPixel = 1;
  eightBit.bitsPerPixel = 8;
  eightBit.compression = BmpFormat::Compression::Rle;
  topDown.topDown = true;
  add(BlackBmp(QStringLiteral("dot.bmp"), 1, 1, oneBit));
  add(BlackBmp(QStringLiteral("square.bmp"), 8, 8, eightBit));
  add(BlackBmp(QStringLiteral("nine.bmp"), 9, 9, topDown));
  ASSERT_TRUE(boxes.shown.isEmpty());

  click("btnDownloadLOGO");
  expectOnlyBox("OK!", "Download LOGO", MsgIcon::Information);
  EXPECT_EQ(status(), QStringLiteral("Complete !"));

  const QByteArray expected = QByteArray::fromHex("1c7103") + // FS q, three records
                              QByteArray::fromHex("010001008000000000000000") +
                              QByteArray::fromHex("01000100ffffffffffffffff") + BlackRecord(9, 9);
  ASSERT_EQ(BlackRecord(9, 9).toHex(' '),
            QByteArray("02 00 02 00 " + QByteArray("ff 80 ").repeated(9) +
                       QByteArray("00 00 ").repeated(7))
                .trimmed());
  EXPECT_THAT(oneJob(QStringLiteral("LOGO TO NVRAM")), ElementsAre(expected));
}

TEST_F(WindowDownloadTest, StreamActionsWithNoPrinterChosenFail) {
  printers = QStringList();
  add(BlackBmp(QStringLiteral("a.bmp"), 1, 1));
  ASSERT_EQ(get<QComboBox>("cbbDriver")->currentIndex(), -1);
  click("btnDownloadLOGO");
  expectOnlyBox("Error!", "Download LOGO", MsgIcon::Error);
  EXPECT_EQ(status(), QStringLiteral("Send Failed !"));

  const QString path = firmwarePath("fw.bin");
  ASSERT_FALSE(test::WriteValidFirmware(path, 256).isEmpty());
  chooseFirmware(path);
  boxes.shown.clear();
  click("btnUpdateFW");
  // The failure has a box of its own too, which says why.
  EXPECT_EQ(boxes.Texts(), (QStringList{QStringLiteral("Keep The Printer Connected Then Press OK!"),
                                        QStringLiteral("Send Failed !")}));
  EXPECT_TRUE(boxes.shown.last().request.detail.contains(QStringLiteral("no print queue")));
  EXPECT_EQ(status(), QStringLiteral("Send Failed !"));
}

TEST_F(WindowDownloadTest, DownloadOverTcpIsConfirmedOnceThePrinterHasItAll) {
  test::FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  add(BlackBmp(QStringLiteral("dot.bmp"), 1, 1));
  add(BlackBmp(QStringLiteral("wide.bmp"), 576, 100));
  add(BlackBmp(QStringLiteral("nine.bmp"), 9, 9));
  stopClock();

  click("btnDownloadLOGO");
  ASSERT_TRUE(test::WaitUntil([&] { return !boxes.shown.isEmpty(); }));
  expectOnlyBox("OK!", "Download LOGO", MsgIcon::Information);
  EXPECT_EQ(status(), QStringLiteral("Complete !"));
  const QByteArray expected =
      QByteArray::fromHex("1c7103") + BlackRecord(1, 1) + BlackRecord(576, 100) + BlackRecord(9, 9);
  ASSERT_TRUE(printer.waitForBytes(expected.size()));
  test::RunEventLoopFor(50);
  EXPECT_TRUE(printer.received() == expected) << printer.receivedSize();
}

// A paused printer on loopback lets the kernel take about 3.9 MB before a
// send would block, more than any logo set: a transfer that is still
// running when "Download" is clicked is an 8 MiB firmware upload.
TEST_F(WindowDownloadTest, DownloadWhileAnEarlierTransferStillRunsIsAnError) {
  test::FakePrinter printer(test::FakePrinter::Options{0, 4096});
  ASSERT_TRUE(connectTcp(printer.port()));
  printer.pauseReading();
  const QString firmware = firmwarePath("big.bin");
  const QByteArray file = test::WriteValidFirmware(firmware, 8 << 20, 3);
  ASSERT_FALSE(file.isEmpty());
  const QByteArray image = ExpectedFirmwareImage(file);
  chooseFirmware(firmware);
  click("btnUpdateFW");
  // The largest set that fits: 576 × 904 dots, 65095 bytes.
  add(BlackBmp(QStringLiteral("tall.bmp"), 576, 904));
  ASSERT_EQ(spaceLabel(), QStringLiteral("Space: 65,095 Used, 0,444 Free"));
  const QByteArray logos = QByteArray::fromHex("1c7101") + BlackRecord(576, 904);
  boxes.shown.clear();

  click("btnDownloadLOGO");
  ASSERT_EQ(boxes.shown.size(), 1);
  ExpectStillRunningRefusal(boxes.shown[0].request, "Download LOGO");

  printer.resumeReading();
  ASSERT_TRUE(printer.waitForBytes(image.size(), 30000)) << printer.receivedSize();
  test::RunEventLoopFor(50);
  EXPECT_TRUE(printer.received() == image)
      << "the refused copy must not be sent: " << printer.receivedSize();

  // Once the upload is over, the next download is taken.
  ASSERT_TRUE(
      test::WaitUntil([&] { return !get<QWidget>("statAllTransfer")->isVisibleTo(&form()); }));
  boxes.shown.clear();
  click("btnDownloadLOGO");
  ASSERT_TRUE(test::WaitUntil([&] { return !boxes.shown.isEmpty(); }));
  expectOnlyBox("OK!", "Download LOGO", MsgIcon::Information);
  ASSERT_TRUE(printer.waitForBytes(image.size() + logos.size()));
  test::RunEventLoopFor(50);
  EXPECT_TRUE(printer.received().mid(image.size()) == logos) << printer.receivedSize();
  EXPECT_TRUE(form().TcpConnected);
}

TEST_F(WindowDownloadTest, DownloadRefusesTheSerialPort) {
  test::TPseudoTerminal line;
  ASSERT_TRUE(line.Ok());
  ASSERT_TRUE(openSerial(line.SlavePath()));
  add(BlackBmp(QStringLiteral("a.bmp"), 8, 8));
  click("btnDownloadLOGO");
  EXPECT_TRUE(boxes.shown.isEmpty());
  EXPECT_EQ(status(), QStringLiteral("Can not Use COM Port !"));
  expectNothingSentBefore([&] { return line.Received(); },
                          [&](qsizetype n) { return line.WaitForReceived(n); });
}

// ---- the firmware panel ----

TEST_F(WindowDownloadTest, ChosenFirmwareIsCheckedAtOnce) {
  const QString good = firmwarePath("good.bin"), shortFile = firmwarePath("short.bin");
  ASSERT_FALSE(test::WriteValidFirmware(good, 256).isEmpty());
  QByteArray truncated = test::ValidFirmwareBytes(256);
  truncated.chop(1);
  ASSERT_TRUE(test::WriteFileBytes(shortFile, truncated));

  chooseFirmware(good);
  ASSERT_EQ(files.requests.size(), 1);
  EXPECT_EQ(files.requests[0].filter, QStringLiteral("Firmware(.bin) (*.bin)"));
  EXPECT_FALSE(files.requests[0].preview);
  EXPECT_EQ(firmwareEdit(), good);
  EXPECT_TRUE(boxes.shown.isEmpty());

  chooseFirmware(shortFile);
  expectOnlyBox("Invalid Firmware", "Error", MsgIcon::Error);
  EXPECT_TRUE(firmwareEdit().isEmpty());

  // With the edit empty, "Update" asks for a file and warns of nothing.
  boxes.shown.clear();
  click("btnUpdateFW");
  expectOnlyBox("Need Firmware", "Error", MsgIcon::Error);
}

TEST_F(WindowDownloadTest, CancelledDialogChecksTheEditsFileAgain) {
  test::FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  const QString path = firmwarePath("fw.bin");
  ASSERT_FALSE(test::WriteValidFirmware(path, 300, 1).isEmpty());
  chooseFirmware(path);
  ASSERT_TRUE(boxes.shown.isEmpty());

  // The file changes on disk; a cancelled dialog reads it anew.
  const QByteArray changed = test::WriteValidFirmware(path, 1000, 2);
  ASSERT_FALSE(changed.isEmpty());
  chooseFirmware(QString());
  EXPECT_EQ(firmwareEdit(), path);
  EXPECT_TRUE(boxes.shown.isEmpty());
  click("btnUpdateFW");
  const QByteArray image = ExpectedFirmwareImage(changed);
  ASSERT_TRUE(printer.waitForBytes(image.size()));
  test::RunEventLoopFor(50);
  EXPECT_TRUE(printer.received() == image) << printer.receivedSize();

  // Now it fails the check: the box, and the edit emptied.
  ASSERT_TRUE(test::WriteFileBytes(path, test::ValidFirmwareBytes(255)));
  boxes.shown.clear();
  chooseFirmware(QString());
  expectOnlyBox("Invalid Firmware", "Error", MsgIcon::Error);
  EXPECT_TRUE(firmwareEdit().isEmpty());
}

TEST_F(WindowDownloadTest, HandTypedPathOfABadFileSendsNothing) {
  test::FakePrinter printer;
  ASSERT_TRUE(connectTcp(printer.port()));
  // A good file was checked; then a bad one is typed into the edit.
  const QString good = firmwarePath("good.bin"), bad = firmwarePath("bad.bin");
  ASSERT_FALSE(test::WriteValidFirmware(good, 512).isEmpty());
  QByteArray wrongSum = test::ValidFirmwareBytes(512);
  wrongSum[8] = char(wrongSum[8] + 1);
  ASSERT_TRUE(test::WriteFileBytes(bad, wrongSum));
  chooseFirmware(good);
  ASSERT_TRUE(boxes.shown.isEmpty());

  type("edtFirmwareFile", bad);
  click("btnUpdateFW");
  expectOnlyBox("Invalid Firmware", "Error", MsgIcon::Error);
  EXPECT_EQ(firmwareEdit(), bad);
  expectNothingSentBefore([&] { return printer.received(); },
                          [&](qsizetype n) { return printer.waitForBytes(n); });
}

TEST_F(WindowDownloadCupsTest, UpdateWarnsThenSendsTheImageAsOneRawJob) {
  const QString path = firmwarePath("fw.bin");
  const QByteArray file = test::WriteValidFirmware(path, 10000);
  ASSERT_FALSE(file.isEmpty());
  chooseFirmware(path);
  ASSERT_TRUE(boxes.shown.isEmpty());

  // Nothing may go out while the warning is open.
  int jobsWhileWarning = -1;
  boxes.onShow = [&](const MessageBoxRequest &) {
    jobsWhileWarning = int(cups_.Jobs(kQueue).size());
  };
  click("btnUpdateFW");
  boxes.onShow = nullptr;
  ASSERT_EQ(boxes.shown.size(), 1);
  const MessageBoxRequest &warning = boxes.shown[0].request;
  EXPECT_EQ(warning.text, QStringLiteral("Keep The Printer Connected Then Press OK!"));
  EXPECT_EQ(warning.caption, QStringLiteral("Update"));
  EXPECT_EQ(warning.icon, MsgIcon::Warning);
  EXPECT_EQ(warning.buttons, MsgButtons::Ok);
  EXPECT_EQ(warning.modality, MsgModality::System);
  EXPECT_EQ(jobsWhileWarning, 0);
  EXPECT_EQ(status(), QStringLiteral("Complete !")) << "the server confirmed the one job";

  EXPECT_THAT(oneJob(QStringLiteral("update")), ElementsAre(ExpectedFirmwareImage(file)));
}

// A second "Update" while the first image still goes out is refused with a
// box, and the first one arrives alone.
TEST_F(WindowDownloadTest, UpdateWhileTheFirstStillRunsIsAnError) {
  test::FakePrinter printer(test::FakePrinter::Options{0, 4096});
  ASSERT_TRUE(connectTcp(printer.port()));
  printer.pauseReading();
  const QString path = firmwarePath("big.bin");
  const QByteArray file = test::WriteValidFirmware(path, 8 << 20, 5);
  ASSERT_FALSE(file.isEmpty());
  const QByteArray image = ExpectedFirmwareImage(file);
  chooseFirmware(path);

  click("btnUpdateFW");
  click("btnUpdateFW");
  // No second warning: the refusal comes first.
  ASSERT_EQ(boxes.shown.size(), 2) << boxes.Texts().join(QLatin1Char('|')).toStdString();
  ExpectStillRunningRefusal(boxes.shown[1].request, "Update");

  printer.resumeReading();
  ASSERT_TRUE(printer.waitForBytes(image.size(), 30000)) << printer.receivedSize();
  test::RunEventLoopFor(50);
  EXPECT_TRUE(printer.received() == image) << printer.receivedSize();
}

TEST_F(WindowDownloadTest, UpdateWithTheSerialPortOpenWarnsAndSendsNothing) {
  test::TPseudoTerminal line;
  ASSERT_TRUE(line.Ok());
  ASSERT_TRUE(openSerial(line.SlavePath()));
  const QString path = firmwarePath("fw.bin");
  ASSERT_FALSE(test::WriteValidFirmware(path, 256).isEmpty());
  chooseFirmware(path);
  ASSERT_TRUE(boxes.shown.isEmpty());

  click("btnUpdateFW");
  expectOnlyBox("Keep The Printer Connected Then Press OK!", "Update", MsgIcon::Warning);
  EXPECT_EQ(status(), QStringLiteral("Can not Use COM Port !"));
  expectNothingSentBefore([&] { return line.Received(); },
                          [&](qsizetype n) { return line.WaitForReceived(n); });
}

} // namespace
} // namespace pellicar
