// The logo set: adding, deleting, the failures of a rebuild and how the
// list is kept in step with the data, the space label and the download
// stream.

#include "logo/logo_raster.h"
#include "logo/logo_record_cache.h"
#include "logo/logo_set.h"
#include "support/bmp_writer.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::BmpFormat;

// Walks the records behind the 3 command bytes; -1 when they do not fill
// the data exactly.
qsizetype RecordCount(const QByteArray &data) {
  qsizetype at = kLogoCommandBytes, n = 0;
  while (at < data.size()) {
    if (at + 4 > data.size())
      return -1;
    const auto b = [&](qsizetype i) { return qsizetype(std::uint8_t(data[at + i])); };
    at += 4 + 8 * (b(0) | b(1) << 8) * (b(2) | b(3) << 8);
    ++n;
  }
  return at == data.size() ? n : -1;
}

class LogoSetTest : public ::testing::Test {
protected:
  // A w × h bitmap with a black diagonal on white.
  QString Bmp(const QString &name, int w, int h, int bpp = 24) {
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (int i = 0; i < std::min(w, h); ++i)
      picture.setPixel(i, i, qRgb(0, 0, 0));
    BmpFormat format;
    format.bitsPerPixel = bpp;
    return test::SaveFile(dir_.path(), name, test::WriteBmp(picture, format));
  }

  // The record of one file alone.
  static QByteArray RecordOf(const QString &path) {
    QByteArray data;
    EXPECT_FALSE(BuildLogoData({path}, data));
    return data.mid(kLogoCommandBytes);
  }

  void ExpectInStep(const LogoSet &set) {
    EXPECT_EQ(RecordCount(set.data()), set.count());
    QByteArray rebuilt;
    EXPECT_FALSE(BuildLogoData(set.files(), rebuilt));
    EXPECT_EQ(set.data().mid(kLogoCommandBytes), rebuilt.mid(kLogoCommandBytes));
  }

  QTemporaryDir dir_;
};

TEST_F(LogoSetTest, AddAndDeleteKeepListAndData) {
  LogoSet set;
  const QString a = Bmp("a.bmp", 16, 16), b = Bmp("b.bmp", 9, 3), c = Bmp("c.bmp", 1, 1);
  for (const QString &p : {a, b, c}) {
    const LogoSet::Change change = set.Add(p);
    EXPECT_TRUE(change.changed);
    EXPECT_TRUE(change.refusals.isEmpty());
  }
  EXPECT_EQ(set.files(), QStringList({a, b, c}));
  EXPECT_EQ(set.data().mid(3), RecordOf(a) + RecordOf(b) + RecordOf(c));

  // A selected entry goes.
  LogoSet::Change change = set.Delete(1);
  EXPECT_TRUE(change.changed);
  EXPECT_EQ(change.removed, 1);
  EXPECT_EQ(set.files(), QStringList({a, c}));
  EXPECT_EQ(set.data().mid(3), RecordOf(a) + RecordOf(c));

  // No selection (or one out of range): the last entry goes.
  change = set.Delete(-1);
  EXPECT_EQ(change.removed, 1);
  EXPECT_EQ(set.files(), QStringList({a}));
  change = set.Delete(7);
  EXPECT_EQ(change.removed, 0);
  EXPECT_TRUE(set.isEmpty());
  EXPECT_EQ(set.usedBytes(), 3);
  EXPECT_EQ(set.SpaceLabel(), QStringLiteral("Space: 0,003 Used, 65,536 Free"));

  // Nothing on an empty list, not even the label.
  change = set.Delete(-1);
  EXPECT_FALSE(change.changed);
  EXPECT_EQ(change.removed, -1);
  EXPECT_EQ(set.usedBytes(), 3);
}

TEST_F(LogoSetTest, SameFileTwiceCountsTwice) {
  LogoSet set;
  const QString a = Bmp("a.bmp", 576, 100, 1);
  set.Add(a);
  EXPECT_EQ(set.usedBytes(), 7495);
  EXPECT_EQ(set.SpaceLabel(), QStringLiteral("Space: 7,495 Used, 58,044 Free"));
  set.Add(a);
  EXPECT_EQ(set.files(), QStringList({a, a}));
  EXPECT_EQ(set.usedBytes(), 3 + 2 * 7492);
  EXPECT_EQ(LogoSet::DisplayName(a), QStringLiteral("a.bmp"));
}

TEST_F(LogoSetTest, SpaceLabelKeepsThreeDigits) {
  const std::pair<qint64, const char *> cases[] = {
      {3, "Space: 0,003 Used, 65,536 Free"},     {7495, "Space: 7,495 Used, 58,044 Free"},
      {65495, "Space: 65,495 Used, 0,044 Free"}, {1000, "Space: 1,000 Used, 64,539 Free"},
      {65539, "Space: 65,539 Used, 0,000 Free"},
  };
  for (const auto &[used, text] : cases)
    EXPECT_EQ(LogoSpaceLabel(used), QString::fromLatin1(text));
}

TEST_F(LogoSetTest, CapacityExactlyFullIsAcceptedOneMoreIsNot) {
  // 3 + (4 + 8·72·113) + (4 + 8·1·55) = 65539.
  const QString big = Bmp("big.bmp", 576, 904, 1);
  const QString fits = Bmp("fits.bmp", 8, 440);
  const QString over = Bmp("over.bmp", 8, 441); // 8 more bytes
  LogoSet set;
  ASSERT_TRUE(set.Add(big).refusals.isEmpty());
  const LogoSet::Change refused = set.Add(over);
  ASSERT_EQ(refused.refusals.size(), 1);
  EXPECT_EQ(refused.refusals[0].failure.text, QStringLiteral("Error!"));
  EXPECT_EQ(refused.refusals[0].failure.caption, QStringLiteral("Error"));
  EXPECT_EQ(refused.refusals[0].failure.entry, 1);
  EXPECT_EQ(refused.refusals[0].takeOut, QList<qsizetype>({1}));
  EXPECT_EQ(set.files(), QStringList({big}));
  EXPECT_EQ(set.usedBytes(), 3 + 4 + 8 * 72 * 113);

  ASSERT_TRUE(set.Add(fits).refusals.isEmpty());
  EXPECT_EQ(set.usedBytes(), 65539);
  EXPECT_EQ(set.SpaceLabel(), QStringLiteral("Space: 65,539 Used, 0,000 Free"));
  EXPECT_EQ(set.Add(Bmp("one.bmp", 1, 1)).refusals.size(), 1);
  EXPECT_EQ(set.usedBytes(), 65539);
}

TEST_F(LogoSetTest, RefusedAddLeavesListAndDataAsBefore) {
  LogoSet set;
  const QString a = Bmp("a.bmp", 12, 12);
  set.Add(a);
  const QByteArray before = set.data();

  QImage wide(577, 2, QImage::Format_RGB32);
  wide.fill(Qt::black);
  const QString png = dir_.path() + QStringLiteral("/logo.png");
  ASSERT_TRUE(wide.save(png, "PNG"));
  const struct {
    QString path;
    const char *text;
  } cases[] = {
      {test::SaveFile(dir_.path(), "wide.bmp", test::WriteBmp(wide, {})), "Picture invalid"},
      {png, "Picture invalid"},
      {test::SaveFile(dir_.path(), "text.bmp", "not a picture at all"), "Picture invalid"},
      {dir_.path(), "Picture invalid"}, // a folder
      {dir_.path() + QStringLiteral("/typed-name.bmp"), "Error!"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    const LogoSet::Change change = set.Add(c.path);
    EXPECT_TRUE(change.changed);
    ASSERT_EQ(change.refusals.size(), 1);
    EXPECT_EQ(change.refusals[0].failure.text, QString::fromLatin1(c.text));
    EXPECT_EQ(change.refusals[0].failure.caption, QStringLiteral("Error"));
    EXPECT_EQ(change.refusals[0].takeOut, QList<qsizetype>({1}));
    EXPECT_EQ(set.files(), QStringList({a}));
    EXPECT_EQ(set.data(), before);
  }
}

TEST_F(LogoSetTest, AtMost255Logos) {
  LogoSet set;
  const QString a = Bmp("a.bmp", 1, 1);
  for (int i = 0; i < 255; ++i)
    ASSERT_TRUE(set.Add(a).refusals.isEmpty());
  EXPECT_EQ(set.usedBytes(), 3 + 255 * 12);
  const std::optional<LogoFailure> refusal = set.CheckAdd();
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->caption, QStringLiteral("Error"));
  EXPECT_TRUE(refusal->text.contains(QStringLiteral("255")));

  const QByteArray before = set.data();
  const LogoSet::Change change = set.Add(a);
  EXPECT_FALSE(change.changed);
  ASSERT_EQ(change.refusals.size(), 1);
  EXPECT_TRUE(change.refusals[0].takeOut.isEmpty());
  EXPECT_EQ(set.count(), 255);
  EXPECT_EQ(set.data(), before);
  EXPECT_EQ(std::uint8_t(set.DownloadStream()[2]), 255);

  set.Delete(0);
  EXPECT_FALSE(set.CheckAdd());
}

TEST_F(LogoSetTest, EarlierEntryGoneOnDiskIsTakenOutWithTheNewOne) {
  LogoSet set;
  const QString a = Bmp("a.bmp", 8, 8), b = Bmp("b.bmp", 9, 9);
  set.Add(a);
  set.Add(b);
  ASSERT_TRUE(QFile::remove(a));

  const QString c = Bmp("c.bmp", 3, 3);
  const LogoSet::Change change = set.Add(c);
  ASSERT_EQ(change.refusals.size(), 1);
  EXPECT_EQ(change.refusals[0].failure.text, QStringLiteral("Error!"));
  EXPECT_EQ(change.refusals[0].failure.entry, 0);
  EXPECT_EQ(change.refusals[0].takeOut, QList<qsizetype>({2, 0}));
  EXPECT_EQ(set.files(), QStringList({b}));
  ExpectInStep(set);
  EXPECT_EQ(std::uint8_t(set.DownloadStream()[2]), 1);
}

TEST_F(LogoSetTest, DeleteTakesOutEveryEntryThatNoLongerConverts) {
  LogoSet set;
  const QString a = Bmp("a.bmp", 8, 8), b = Bmp("b.bmp", 9, 9), c = Bmp("c.bmp", 10, 2),
                d = Bmp("d.bmp", 4, 4), e = Bmp("e.bmp", 5, 5);
  for (const QString &p : {a, b, c, d, e})
    set.Add(p);
  ASSERT_TRUE(QFile::remove(b));
  test::SaveFile(dir_.path(), "d.bmp", "changed into something else");

  const LogoSet::Change change = set.Delete(0);
  EXPECT_EQ(change.removed, 0);
  ASSERT_EQ(change.refusals.size(), 2);
  EXPECT_EQ(change.refusals[0].failure.text, QStringLiteral("Error!"));
  EXPECT_EQ(change.refusals[0].takeOut, QList<qsizetype>({0})); // b
  EXPECT_EQ(change.refusals[1].failure.text, QStringLiteral("Picture invalid"));
  EXPECT_EQ(change.refusals[1].takeOut, QList<qsizetype>({1})); // d, after b went
  EXPECT_EQ(set.files(), QStringList({c, e}));
  ExpectInStep(set);
}

TEST_F(LogoSetTest, DownloadStreamIsTheWholeCommand) {
  LogoSet set;
  EXPECT_TRUE(set.DownloadStream().isEmpty());
  const std::optional<LogoFailure> empty = set.CheckDownload();
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->text, QStringLiteral("Select A File"));
  EXPECT_EQ(empty->caption, QStringLiteral("Error!"));

  const QString a = Bmp("a.bmp", 16, 16, 8), b = Bmp("b.bmp", 9, 3, 1), c = Bmp("c.bmp", 1, 1);
  for (const QString &p : {a, b, c})
    set.Add(p);
  EXPECT_FALSE(set.CheckDownload());
  const QByteArray stream = set.DownloadStream();
  EXPECT_EQ(stream, QByteArray("\x1C\x71\x03", 3) + RecordOf(a) + RecordOf(b) + RecordOf(c));
  EXPECT_EQ(set.data(), stream);

  // The stream is a copy: a later change does not reach it.
  set.Delete(-1);
  EXPECT_EQ(stream.size(), 3 + RecordOf(a).size() + RecordOf(b).size() + RecordOf(c).size());
  EXPECT_EQ(std::uint8_t(set.DownloadStream()[2]), 2);
}

TEST_F(LogoSetTest, CacheConvertsOnlyBytesItHasNotSeen) {
  const QString a = Bmp(QStringLiteral("a.bmp"), 9, 9), b = Bmp(QStringLiteral("b.bmp"), 5, 3);
  const QString sameAsA = Bmp(QStringLiteral("c.bmp"), 9, 9);
  LogoRecordCache cache;
  QByteArray data;
  const auto rebuild = [&](const QStringList &files) {
    EXPECT_FALSE(BuildLogoData(files, data, &cache));
    QByteArray uncached;
    EXPECT_FALSE(BuildLogoData(files, uncached));
    EXPECT_EQ(data, uncached);
  };
  rebuild({a, b, sameAsA});
  rebuild({a, b, sameAsA});
  EXPECT_EQ(cache.conversions(), 2) << "c.bmp has a's bytes; nothing converted twice";

  // a.bmp edited in place: same name, size and modification time.
  const QDateTime modified = QFileInfo(a).lastModified();
  const QByteArray before = RecordOf(a);
  QImage picture(9, 9, QImage::Format_RGB32);
  picture.fill(Qt::black);
  QFile file(a);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_EQ(file.write(test::WriteBmp(picture, BmpFormat())), file.size());
  ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
  file.close();
  rebuild({a, b, sameAsA});
  EXPECT_EQ(cache.conversions(), 3);
  EXPECT_NE(RecordOf(a), before);

  rebuild({a, sameAsA});
  EXPECT_EQ(cache.size(), 2) << "b.bmp's record is forgotten once unused";
}

} // namespace
} // namespace pellicar
