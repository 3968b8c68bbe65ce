// What the tool says when it cannot do what it was asked: one reason, the
// one that applies, on standard error, with the exit status that goes with
// it; and help wherever "--help" stands after a command.

#include "cli/cli_process.h"
#include "support/bmp_writer.h"
#include "support/firmware_files.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace pellicar::test {
namespace {

QString Quoted(const QString &path) { return QLatin1Char('\'') + path + QLatin1Char('\''); }

TEST(CliMessagesTest, EachRefusalSaysWhy) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString dir = folder.path();
  const auto file = [&](const char *name) { return folder.filePath(QString::fromLatin1(name)); };

  QImage dot(1, 1, QImage::Format_RGB32);
  dot.fill(Qt::black);
  const QString goodLogo = SaveFile(dir, QStringLiteral("dot.bmp"), WriteBmp(dot, {}));
  QImage wide(577, 1, QImage::Format_RGB32);
  wide.fill(Qt::black);
  const QString wideLogo = SaveFile(dir, QStringLiteral("wide.bmp"), WriteBmp(wide, {}));
  QByteArray zero = WriteBmp(dot, {});
  PutLe32(zero, 18, 0);
  const QString zeroLogo = SaveFile(dir, QStringLiteral("zero.bmp"), zero);
  const QByteArray whole = WriteBmp(QImage(8, 8, QImage::Format_RGB32), {});
  const QString cutLogo = SaveFile(dir, QStringLiteral("cut.bmp"), whole.left(whole.size() - 9));
  const QString pngLogo = file("picture.bmp");
  ASSERT_TRUE(dot.save(pngLogo, "PNG"));
  // 576 × 912: 4 + 72·8·114 bytes, 3 more than the logo memory with the
  // command's own 3 bytes.
  QImage tall(576, 912, QImage::Format_RGB32);
  tall.fill(Qt::white);
  const QString tallLogo = SaveFile(dir, QStringLiteral("tall.bmp"), WriteBmp(tall, {}));
  const QString firmware = file("ok.bin");
  ASSERT_FALSE(WriteValidFirmware(firmware, 256).isEmpty());
  const QString fifo = file("fifo");
  ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  const QString missing = file("missing.bmp");

  const QString usage = QStringLiteral("Try 'pellicar-cli --help'.\n");
  const QString stdoutFailed = QStringLiteral("pellicar-cli: Writing to standard output failed.\n");
  struct Case {
    QString script; // "$CLI" is the tool
    int exitCode;
    QString err;    // standard error, all of it
    QString helpOf; // standard output is this command's help; empty: nothing
  };
  const auto needFirmware = [](const QString &path, const char *kind) {
    return QStringLiteral("pellicar-cli: %1: Need Firmware (not a regular file but %2).\n")
        .arg(path, QLatin1String(kind));
  };
  const auto pictureInvalid = [](const QString &path, const char *reason) {
    return QStringLiteral("pellicar-cli: %1: Picture invalid (%2).\n")
        .arg(path, QLatin1String(reason));
  };
  const std::vector<Case> cases = {
      // Firmware that is there but is no regular file.
      {QStringLiteral("\"$CLI\" firmware %1").arg(Quoted(dir)),
       2,
       needFirmware(dir, "a directory"),
       {}},
      {QStringLiteral("\"$CLI\" check-firmware /dev/zero"),
       2,
       needFirmware(QStringLiteral("/dev/zero"), "a character device"),
       {}},
      {QStringLiteral("\"$CLI\" firmware /dev/null"),
       2,
       needFirmware(QStringLiteral("/dev/null"), "a character device"),
       {}},
      {QStringLiteral("\"$CLI\" check-firmware %1").arg(Quoted(fifo)),
       2,
       needFirmware(fifo, "a FIFO"),
       {}},
      // Logos: the one reason that applies.
      {QStringLiteral("\"$CLI\" logo %1 %2").arg(Quoted(goodLogo), Quoted(wideLogo)),
       2,
       pictureInvalid(wideLogo, "wider than 576 pixels: 577 pixels wide"),
       {}},
      {QStringLiteral("\"$CLI\" logo %1").arg(Quoted(zeroLogo)),
       2,
       pictureInvalid(zeroLogo, "of zero size: 0 pixels wide, 1 high"),
       {}},
      {QStringLiteral("\"$CLI\" logo %1").arg(Quoted(pngLogo)),
       2,
       pictureInvalid(pngLogo, "not a BMP file but a PNG image"),
       {}},
      {QStringLiteral("\"$CLI\" logo %1").arg(Quoted(cutLogo)),
       2,
       pictureInvalid(cutLogo, "cut short before its last pixel"),
       {}},
      {QStringLiteral("\"$CLI\" logo %1").arg(Quoted(fifo)),
       2,
       pictureInvalid(fifo, "not a regular file"),
       {}},
      {QStringLiteral("\"$CLI\" logo %1 %2").arg(Quoted(goodLogo), Quoted(missing)),
       2,
       QStringLiteral("pellicar-cli: %1: Error! (no such file).\n").arg(missing),
       {}},
      {QStringLiteral("\"$CLI\" logo %1").arg(Quoted(tallLogo)),
       2,
       QStringLiteral("pellicar-cli: %1: Error! (the logos would take 65671 bytes, more than "
                      "the printer's 65539 bytes of logo memory).\n")
           .arg(tallLogo),
       {}},
      // A port left out after the colon.
      {QStringLiteral("\"$CLI\" --tcp 127.0.0.1: selftest"),
       2,
       QStringLiteral("pellicar-cli: --tcp 127.0.0.1:: the port '' is not a valid integer "
                      "value.\n") +
           usage,
       {}},
      // "--help" after a command, wherever it stands.
      {QStringLiteral("\"$CLI\" logo %1 --help").arg(Quoted(missing)),
       0,
       {},
       QStringLiteral("logo")},
      {QStringLiteral("\"$CLI\" ip 192.168.1.87 --help"), 0, {}, QStringLiteral("ip")},
      {QStringLiteral("\"$CLI\" wifi --ssid --help"), 0, {}, QStringLiteral("wifi")},
      {QStringLiteral("\"$CLI\" base --codepage -h"), 0, {}, QStringLiteral("base")},
      {QStringLiteral("\"$CLI\" --serial /dev/null firmware %1 --help").arg(Quoted(missing)),
       0,
       {},
       QStringLiteral("firmware")},
      // The serial channel is refused before the file is looked at (it is
      // missing, and that is not what is said).
      {QStringLiteral("\"$CLI\" --serial /dev/null logo %1").arg(Quoted(missing)),
       2,
       QStringLiteral("pellicar-cli: Can not Use COM Port ! 'logo' goes over --tcp, --queue or "
                      "--output.\nTry 'pellicar-cli logo --help'.\n"),
       {}},
      {QStringLiteral("\"$CLI\" --serial /dev/null firmware %1").arg(Quoted(missing)),
       2,
       QStringLiteral("pellicar-cli: Can not Use COM Port ! 'firmware' goes over --tcp, --queue "
                      "or --output.\nTry 'pellicar-cli firmware --help'.\n"),
       {}},
      // A device is written without seeking (Qt would warn).
      {QStringLiteral("\"$CLI\" --output /dev/null selftest"), 0, {}, {}},
      {QStringLiteral("\"$CLI\" --output /dev/null logo %1").arg(Quoted(goodLogo)), 0, {}, {}},
      // Standard output that does not take the text, for every kind of
      // command.
      {QStringLiteral("\"$CLI\" list codepages > /dev/full"), 1, stdoutFailed, {}},
      {QStringLiteral("\"$CLI\" --help > /dev/full"), 1, stdoutFailed, {}},
      {QStringLiteral("\"$CLI\" logo --help > /dev/full"), 1, stdoutFailed, {}},
      {QStringLiteral("\"$CLI\" selftest > /dev/full"), 1, stdoutFailed, {}},
      {QStringLiteral("\"$CLI\" logo %1 > /dev/full").arg(Quoted(goodLogo)), 1, stdoutFailed, {}},
      {QStringLiteral("\"$CLI\" check-firmware %1 > /dev/full").arg(Quoted(firmware)),
       1,
       stdoutFailed,
       {}},
      {QStringLiteral("\"$CLI\" --output - selftest > /dev/full"), 1, stdoutFailed, {}},
      // No print server is not a server without queues.
      {QStringLiteral("CUPS_SERVER=%1 \"$CLI\" --timeout 2 list printers")
           .arg(Quoted(file("no-server.sock"))),
       1,
       QStringLiteral("pellicar-cli: list printers: no print server answered.\n"),
       {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.script.toStdString());
    const CliResult result = RunCliShell(c.script);
    EXPECT_EQ(result.exitCode, c.exitCode) << ::testing::PrintToString(result);
    EXPECT_EQ(result.errText().toStdString(), c.err.toStdString());
    if (c.helpOf.isEmpty()) {
      EXPECT_TRUE(result.out.isEmpty()) << result.out.left(200).toStdString();
    } else {
      const CliResult help = RunCliProcess({c.helpOf, QStringLiteral("--help")});
      EXPECT_TRUE(help.outText().startsWith(QStringLiteral("Usage: "))) << help.out.toStdString();
      EXPECT_EQ(result.out, help.out);
    }
  }
}

} // namespace
} // namespace pellicar::test
