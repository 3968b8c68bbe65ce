#include "firmware/firmware_check.h"
#include "firmware/firmware_image.h"
#include "support/firmware_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <unistd.h>

#include <functional>
#include <thread>

namespace pellicar {
namespace {

using test::ExpectedFirmwareImage;
using test::PutLittleEndian;
using test::ValidFirmwareBytes;
using test::WriteFileBytes;
using test::WriteSparseValidFirmware;
using test::WriteValidFirmware;

class FirmwareFiles : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    // Searchable by everyone, so that a file in it can be made unreadable
    // to an unprivileged reader rather than the whole folder.
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                           QFile::ExeGroup);
  }

  QString Path(const QString &name) const { return dir_.filePath(name); }

  QString Write(const QString &name, const QByteArray &bytes) {
    const QString path = Path(name);
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }

  // A valid firmware file that this process cannot read.
  QString WriteUnreadable(const QString &name) {
    const QString path = Path(name);
    EXPECT_FALSE(WriteValidFirmware(path, 512).isEmpty());
    EXPECT_TRUE(QFile::setPermissions(path, {}));
    return path;
  }

  // Whether a file's mode can keep this process out: true for a normal
  // user; as root, when a thread can give up its file-system identity.
  static bool FileModesBind() {
    if (geteuid() != 0)
      return true;
    bool switched = false;
    std::thread probe([&] {
      setfsuid(65534);
      switched = setfsuid(65534) == 65534;
      setfsuid(0);
    });
    probe.join();
    return switched;
  }

  // Runs `body` as a reader that file modes bind: as root, on a thread of
  // its own whose file-system user is "nobody".
  static void WithoutFileOverride(const std::function<void()> &body) {
    if (geteuid() != 0) {
      body();
      return;
    }
    std::thread reader([&] {
      setfsuid(65534);
      body();
      setfsuid(0);
    });
    reader.join();
  }

  QTemporaryDir dir_;
};

// --- The check of a file's bytes ---------------------------------------

QByteArray WithLengthField(QByteArray bytes, std::uint32_t field) {
  PutLittleEndian(bytes, 4, field);
  test::BalanceWordSum(bytes);
  return bytes;
}

QByteArray WithWordSumOne(QByteArray bytes) {
  PutLittleEndian(bytes, 0, test::GetLittleEndian(bytes, 0) + 1);
  return bytes;
}

QByteArray WithTail(QByteArray bytes, char a, char b) {
  bytes[bytes.size() - 2] = a;
  bytes[bytes.size() - 1] = b;
  return bytes;
}

QByteArray WithFlippedByte(QByteArray bytes, qsizetype at) {
  bytes[at] = char(bytes[at] ^ 0x10);
  return bytes;
}

struct ContentCase {
  const char *name;
  QByteArray bytes;
  FirmwareVerdict verdict;
};

TEST_F(FirmwareFiles, ContentRulesDecideTheVerdict) {
  const QByteArray valid256 = ValidFirmwareBytes(256);
  const ContentCase cases[] = {
      {"empty", QByteArray(), FirmwareVerdict::TooShort},
      {"255 bytes", ValidFirmwareBytes(255), FirmwareVerdict::TooShort},
      {"256 bytes", valid256, FirmwareVerdict::Valid},
      {"one byte more than the length field", valid256 + char(0), FirmwareVerdict::LengthMismatch},
      {"length field high half set", WithLengthField(valid256, 0x00010100),
       FirmwareVerdict::LengthMismatch},
      {"length field big-endian", WithLengthField(valid256, 0x00010000),
       FirmwareVerdict::LengthMismatch},
      {"word sum 1", WithWordSumOne(valid256), FirmwareVerdict::BadWordSum},
      {"258 bytes, tail 00 00", WithTail(ValidFirmwareBytes(258), 0, 0), FirmwareVerdict::Valid},
      {"258 bytes, tail FF FF", WithTail(ValidFirmwareBytes(258), char(0xFF), char(0xFF)),
       FirmwareVerdict::Valid},
      {"258 bytes, tail 12 34", WithTail(ValidFirmwareBytes(258, 7), 0x12, 0x34),
       FirmwareVerdict::Valid},
      // Random words: the sum wraps many times and only works out read
      // little-endian.
      {"4099 random bytes", ValidFirmwareBytes(4099, 3), FirmwareVerdict::Valid},
      {"one body byte changed", WithFlippedByte(ValidFirmwareBytes(4099, 3), 3000),
       FirmwareVerdict::BadWordSum},
  };
  for (const ContentCase &c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwareFileCheck check = CheckFirmwareFile(Write(QStringLiteral("fw.bin"), c.bytes));
    EXPECT_EQ(check.verdict, c.verdict);
    EXPECT_EQ(check.image,
              c.verdict == FirmwareVerdict::Valid ? ExpectedFirmwareImage(c.bytes) : QByteArray());
  }
}

TEST_F(FirmwareFiles, ImageOf256ByteFileCarriesBigEndianLength) {
  const QByteArray bytes = ValidFirmwareBytes(256);
  ASSERT_EQ(bytes.mid(4, 4), QByteArray::fromHex("00010000"));
  const FirmwareFileCheck check = CheckFirmwareFile(Write(QStringLiteral("fw.bin"), bytes));
  ASSERT_EQ(check.verdict, FirmwareVerdict::Valid);
  EXPECT_EQ(check.image.size(), 262);
  EXPECT_EQ(check.image.first(6), QByteArray::fromHex("1f7500000100"));
  EXPECT_EQ(check.image.sliced(6), bytes);
}

TEST_F(FirmwareFiles, WhatIsNoFileIsNeverRead) {
  for (const QString &path :
       {QString(), Path(QStringLiteral("missing.bin")), dir_.path(), QStringLiteral("/dev/null")}) {
    SCOPED_TRACE(path.toStdString());
    EXPECT_EQ(CheckFirmwareFile(path).verdict, FirmwareVerdict::NoFile);
  }
}

TEST_F(FirmwareFiles, UnreadableFileIsInvalid) {
  if (!FileModesBind())
    GTEST_SKIP() << "this process reads every file whatever its mode";
  const QString path = WriteUnreadable(QStringLiteral("locked.bin"));
  WithoutFileOverride([&] {
    const FirmwareFileCheck check = CheckFirmwareFile(path);
    EXPECT_EQ(check.verdict, FirmwareVerdict::Unreadable);
    EXPECT_TRUE(check.image.isEmpty());
  });
}

TEST_F(FirmwareFiles, LargestAcceptedSizeIs64MiB) {
  const QString largest = Path(QStringLiteral("largest.bin"));
  ASSERT_TRUE(WriteSparseValidFirmware(largest, kFirmwareMaxBytes));
  const FirmwareFileCheck check = CheckFirmwareFile(largest);
  ASSERT_EQ(check.verdict, FirmwareVerdict::Valid);
  EXPECT_EQ(check.image.size(), kFirmwareMaxBytes + 6);
  EXPECT_EQ(check.image.first(6), QByteArray::fromHex("1f7504000000"));
}

TEST_F(FirmwareFiles, OverLargeFileIsRefusedBeforeReading) {
  // Valid in every other respect, and unreadable too (where modes bind):
  // the size alone refuses it, before any attempt to open it.
  const QString path = Path(QStringLiteral("huge.bin"));
  ASSERT_TRUE(WriteSparseValidFirmware(path, kFirmwareMaxBytes + 4));
  ASSERT_TRUE(QFile::setPermissions(path, {}));
  WithoutFileOverride(
      [&] { EXPECT_EQ(CheckFirmwareFile(path).verdict, FirmwareVerdict::TooLarge); });
}

// --- The image the window holds -----------------------------------------

class HeldFirmware : public FirmwareFiles {
protected:
  TFirmwareImage held_;
};

void ExpectInvalidBox(const FirmwareStep &step) {
  EXPECT_EQ(step.errorText, "Invalid Firmware");
  EXPECT_EQ(step.errorCaption, "Error");
  EXPECT_FALSE(step.Sends());
}

TEST_F(HeldFirmware, ChosenValidFileIsHeldAndUploaded) {
  const QString path = Path(QStringLiteral("a.bin"));
  const QByteArray bytes = WriteValidFirmware(path, 1000);
  const FirmwareStep chosen = held_.Choose(path);
  EXPECT_FALSE(chosen.ShowsError());
  EXPECT_FALSE(chosen.clearEdit);
  EXPECT_EQ(held_.HeldFor(), QFileInfo(path).absoluteFilePath());

  const FirmwareStep upload = held_.PrepareUpload(path);
  EXPECT_FALSE(upload.ShowsError());
  EXPECT_EQ(upload.upload, ExpectedFirmwareImage(bytes));
  // The image stays for another "Update".
  EXPECT_EQ(held_.PrepareUpload(path).upload, ExpectedFirmwareImage(bytes));
}

TEST_F(HeldFirmware, FailedChoiceClearsEditAndDropsImage) {
  const QString valid = Path(QStringLiteral("a.bin"));
  WriteValidFirmware(valid, 512);
  const QString shortFile = Write(QStringLiteral("short.bin"), ValidFirmwareBytes(255));
  const QString locked = WriteUnreadable(QStringLiteral("locked.bin"));
  const QString huge = Path(QStringLiteral("huge.bin"));
  ASSERT_TRUE(WriteSparseValidFirmware(huge, kFirmwareMaxBytes + 4));

  QStringList bad = {shortFile, huge};
  if (FileModesBind())
    bad.append(locked);
  for (const QString &path : bad) {
    SCOPED_TRACE(path.toStdString());
    ASSERT_FALSE(held_.Choose(valid).ShowsError());
    FirmwareStep step;
    WithoutFileOverride([&] { step = held_.Choose(path); });
    ExpectInvalidBox(step);
    EXPECT_TRUE(step.clearEdit);
    EXPECT_FALSE(held_.IsHeld());
  }
}

TEST_F(HeldFirmware, ChoosingNoExistingFileKeepsHeldImage) {
  const QString path = Path(QStringLiteral("a.bin"));
  const QByteArray bytes = WriteValidFirmware(path, 512);
  held_.Choose(path);
  const FirmwareStep step = held_.Choose(Path(QStringLiteral("missing.bin")));
  EXPECT_FALSE(step.ShowsError());
  EXPECT_FALSE(step.clearEdit);
  EXPECT_EQ(held_.PrepareUpload(path).upload, ExpectedFirmwareImage(bytes));
}

TEST_F(HeldFirmware, ChoosingTheSameFileAgainRereadsIt) {
  // A cancelled dialog checks the edit's file again.
  const QString path = Path(QStringLiteral("a.bin"));
  WriteValidFirmware(path, 512, 1);
  held_.Choose(path);
  const QByteArray changed = WriteValidFirmware(path, 600, 2);
  EXPECT_FALSE(held_.Choose(path).ShowsError());
  EXPECT_EQ(held_.Image(), ExpectedFirmwareImage(changed));

  WriteFileBytes(path, WithWordSumOne(changed));
  ExpectInvalidBox(held_.Choose(path));
  EXPECT_FALSE(held_.IsHeld());
}

TEST_F(HeldFirmware, UploadWithoutFileNeedsFirmware) {
  for (const QString &edit : {QString(), Path(QStringLiteral("missing.bin")), dir_.path()}) {
    const FirmwareStep step = held_.PrepareUpload(edit);
    EXPECT_EQ(step.errorText, "Need Firmware");
    EXPECT_EQ(step.errorCaption, "Error");
    EXPECT_FALSE(step.Sends());
  }
}

TEST_F(HeldFirmware, UploadSendsOnlyTheImageOfTheNamedFile) {
  const QString a = Path(QStringLiteral("a.bin"));
  const QString b = Path(QStringLiteral("b.bin"));
  WriteValidFirmware(a, 512, 1);
  const QByteArray bBytes = WriteValidFirmware(b, 700, 2);

  // Nothing checked yet: the named file is checked first.
  EXPECT_EQ(held_.PrepareUpload(b).upload, ExpectedFirmwareImage(bBytes));

  // A's image held, B typed by hand: B's image, never A's.
  held_.Choose(a);
  const FirmwareStep step = held_.PrepareUpload(b);
  EXPECT_EQ(step.upload, ExpectedFirmwareImage(bBytes));
  EXPECT_EQ(held_.HeldFor(), QFileInfo(b).absoluteFilePath());
}

TEST_F(HeldFirmware, UploadOfUncheckedInvalidFileSendsNothing) {
  const QString a = Path(QStringLiteral("a.bin"));
  WriteValidFirmware(a, 512);
  const QString bad = Write(QStringLiteral("bad.bin"), WithWordSumOne(ValidFirmwareBytes(512)));
  held_.Choose(a);
  const FirmwareStep step = held_.PrepareUpload(bad);
  ExpectInvalidBox(step);
  EXPECT_FALSE(step.clearEdit);
  EXPECT_FALSE(held_.IsHeld());
}

} // namespace
} // namespace pellicar
