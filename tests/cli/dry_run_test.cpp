// Without a channel the tool prints what it would send. For every command
// the lines must carry exactly the bytes the window's button sends for the
// same values: the cases are the window's own table.

#include "cli/cli_process.h"
#include "commands/code_page_table.h"
#include "firmware/firmware_check.h"
#include "support/bmp_writer.h"
#include "support/command_cases.h"
#include "support/firmware_files.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace pellicar::test {
namespace {

std::string Line(const std::string &name, const std::string &hex) {
  return name + '\t' + hex + '\n';
}

// Runs a dry run and checks that it printed `expected` and nothing else.
void ExpectPrints(const QStringList &arguments, const std::string &expected) {
  SCOPED_TRACE(arguments.join(QLatin1Char(' ')).left(200).toStdString());
  const CliResult result = RunCliProcess(arguments);
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  EXPECT_EQ(result.out.toStdString(), expected);
  EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
}

// Runs a command the window would refuse: status 2, nothing printed, and
// the window's message on standard error.
void ExpectRefused(const QStringList &arguments, const QString &message) {
  SCOPED_TRACE(arguments.join(QLatin1Char(' ')).left(200).toStdString());
  const CliResult result = RunCliProcess(arguments);
  EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.out.isEmpty()) << result.out.left(200).toStdString();
  EXPECT_TRUE(result.errText().contains(message)) << result.err.toStdString();
}

QString Conversion(const char *text) {
  return QStringLiteral("'%1' is not a valid integer value.").arg(QString::fromUtf8(text));
}

const char *OnOff(bool on) { return on ? "on" : "off"; }

// The base options for `s`. `every`: all eleven, the code page by row;
// otherwise only those that differ from the window's defaults, the code page
// by its name in lower case.
QStringList BaseArguments(const BaseSettings &s, bool every) {
  const BaseSettings d;
  const char *parity[] = {"none", "odd", "even"};
  const char *font[] = {"a", "b", "c"};
  const char *density[] = {"normal", "dark"};
  QStringList args{QStringLiteral("base")};
  auto add = [&](bool differs, const char *option, const QString &value) {
    if (every || differs)
      args << QString::fromLatin1(option) << value;
  };
  add(s.baudRateIndex != d.baudRateIndex, "--baud",
      QString::fromLatin1(kPrinterBaudRateItems[s.baudRateIndex]));
  add(s.parityIndex != d.parityIndex, "--parity", QString::fromLatin1(parity[s.parityIndex]));
  add(s.fontIndex != d.fontIndex, "--font", QString::fromLatin1(font[s.fontIndex]));
  add(s.densityIndex != d.densityIndex, "--density", QString::fromLatin1(density[s.densityIndex]));
  add(s.charsPerLineIndex != d.charsPerLineIndex, "--chars",
      QString::fromLatin1(kCharsPerLineItems[s.charsPerLineIndex]));
  add(s.codePageIndex != d.codePageIndex, "--codepage",
      every ? QString::number(s.codePageIndex)
            : kCodePages[s.codePageIndex].displayName().toLower());
  add(s.buzzer != d.buzzer, "--buzzer", QString::fromLatin1(OnOff(s.buzzer)));
  add(s.drawer != d.drawer, "--drawer", QString::fromLatin1(OnOff(s.drawer)));
  add(s.cutter != d.cutter, "--cutter", QString::fromLatin1(OnOff(s.cutter)));
  add(s.reprint != d.reprint, "--reprint", QString::fromLatin1(OnOff(s.reprint)));
  add(s.buzzAfterPrinting != d.buzzAfterPrinting, "--buzz-after-print",
      QString::fromLatin1(OnOff(s.buzzAfterPrinting)));
  return args;
}

TEST(CliDryRunTest, ButtonsWithoutControls) {
  const std::map<std::string, QStringList> commands = {
      {"btnSelfTest", {QStringLiteral("selftest")}},
      {"btnUseBM", {QStringLiteral("blackmark"), QStringLiteral("enable")}},
      {"btnUnuseBM", {QStringLiteral("blackmark"), QStringLiteral("disable")}},
      {"btnBMNextBM", {QStringLiteral("blackmark"), QStringLiteral("next-mark")}},
      {"btnBMNextCut", {QStringLiteral("blackmark"), QStringLiteral("next-cut")}},
  };
  for (const FixedCase &c : kFixedCases) {
    const auto command = commands.find(c.button);
    ASSERT_NE(command, commands.end()) << "no command for " << c.button;
    ExpectPrints(command->second, Line(c.expected.documentName, c.expected.hex));
  }
}

TEST(CliDryRunTest, BaseParameters) {
  for (const BaseCase &c : kBaseCases) {
    SCOPED_TRACE(c.label);
    const std::string expected =
        Line("Base Parameter", c.hex[0]) + Line("PNPA", c.hex[1]) + Line("BAP", c.hex[2]);
    ExpectPrints(BaseArguments(c.settings, false), expected);
    ExpectPrints(BaseArguments(c.settings, true), expected);
  }
}

TEST(CliDryRunTest, IpAddress) {
  for (const IpCase &c : kIpCases) {
    SCOPED_TRACE(c.label);
    QStringList fields;
    for (const char *text : c.texts)
      fields << QString::fromUtf8(text);
    const QStringList args{QStringLiteral("ip"), fields.join(QLatin1Char('.'))};
    if (std::any_of(fields.begin(), fields.end(),
                    [](const QString &f) { return f.contains(QLatin1Char('.')); })) {
      // A field holding a dot cannot be written in dotted form: the tool
      // sees the wrong number of fields and refuses the whole address.
      ExpectRefused(args, QStringLiteral("A.B.C.D"));
    } else if (c.refusedText) {
      ExpectRefused(args, Conversion(c.refusedText));
    } else {
      ExpectPrints(args, Line("Set IP", c.hex));
    }
  }
}

TEST(CliDryRunTest, MacAddress) {
  for (const MacCase &c : kMacCases) {
    SCOPED_TRACE(c.label);
    QStringList fields;
    for (const char *text : c.texts)
      fields << QString::fromUtf8(text);
    const QStringList args{QStringLiteral("mac"), fields.join(QLatin1Char('.'))};
    if (c.refusedText)
      ExpectRefused(args, Conversion(c.refusedText));
    else
      ExpectPrints(args, Line("Set MAC", c.hex));
  }
}

TEST(CliDryRunTest, LinkSpeed) {
  const char *words[] = {"auto", "100-full", "100-half", "10-full", "10-half"};
  ASSERT_EQ(kSpeedCases.size(), std::size(words));
  for (const SpeedCase &c : kSpeedCases)
    ExpectPrints({QStringLiteral("speed"), QString::fromLatin1(words[c.index])},
                 Line("Set Speed", c.hex));
}

QStringList WifiArguments(const WifiSettings &s) {
  QStringList args{QStringLiteral("wifi"), QStringLiteral("--ssid"), s.ssid};
  switch (s.security) {
  case WifiSecurity::Open:
    break;
  case WifiSecurity::Wpa:
    args << (s.wpaTypeIndex == 0 ? QStringLiteral("--wpa") : QStringLiteral("--wpa2")) << s.wpaKey;
    if (s.cipherIndex == 0)
      args << QStringLiteral("--cipher") << QStringLiteral("tkip");
    break;
  case WifiSecurity::Wep:
    args << (s.wepTypeIndex == 0 ? QStringLiteral("--wep-open") : QStringLiteral("--wep-share"))
         << s.wepKey;
    break;
  }
  return args;
}

TEST(CliDryRunTest, Wifi) {
  for (const WifiCase &c : kWifiCases) {
    SCOPED_TRACE(c.label);
    if (c.tooLongField)
      ExpectRefused(WifiArguments(c.settings),
                    QString::fromUtf8(c.tooLongField) + QStringLiteral(" is too long"));
    else
      ExpectPrints(WifiArguments(c.settings), Line("Set WIFI", c.hex));
  }
}

TEST(CliDryRunTest, WifiSecurityWordsAndCipher) {
  // --open said out loud is the default; --cipher aes is the default.
  ExpectPrints({QStringLiteral("wifi"), QStringLiteral("--ssid"), QStringLiteral("SSID"),
                QStringLiteral("--open")},
               Line("Set WIFI", "1F 77 04 53 53 49 44 00 00 00"));
  ExpectPrints({QStringLiteral("wifi"), QStringLiteral("--cipher"), QStringLiteral("AES"),
                QStringLiteral("--wpa2"), QStringLiteral("k"), QStringLiteral("--ssid"),
                QStringLiteral("S")},
               Line("Set WIFI", "1F 77 01 53 03 01 01 6B"));
  // A key may begin with dashes: it is taken as it stands.
  ExpectPrints({QStringLiteral("wifi"), QStringLiteral("--ssid"), QStringLiteral("S"),
                QStringLiteral("--wep-open"), QStringLiteral("--x")},
               Line("Set WIFI", "1F 77 01 53 00 01 03 2D 2D 78"));
}

TEST(CliDryRunTest, BlackMarkDistances) {
  const std::map<BlackMarkDistance, QString> actions = {
      {BlackMarkDistance::Pitch, QStringLiteral("pitch")},
      {BlackMarkDistance::Width, QStringLiteral("width")},
      {BlackMarkDistance::PrintAfter, QStringLiteral("print-offset")},
      {BlackMarkDistance::CutAfter, QStringLiteral("cut-offset")},
  };
  for (const DistanceCase &c : kDistanceCases) {
    SCOPED_TRACE(std::string(c.edit) + " '" + c.text + "'");
    const QStringList args{QStringLiteral("blackmark"), actions.at(c.field),
                           QString::fromUtf8(c.text)};
    if (c.refused)
      ExpectRefused(args, Conversion(c.text));
    else
      ExpectPrints(args, Line(c.expected.documentName, c.expected.hex));
  }
}

TEST(CliDryRunTest, CodePageByNameOrRow) {
  // Byte 8 is the number of the row chosen, by name (any letter case, the
  // table's own characters) or by row number.
  const std::vector<std::pair<QString, char>> choices = {
      {QStringLiteral("chinese"), char(0xFF)},
      {QStringLiteral("Iran"), 0x0A},
      {QStringLiteral("IRAN II"), 0x14},
      {kCodePages[14].displayName(), 0x09}, // holds a full-width comma
      {QString::fromUtf8("cp858 multilingual latin \xE2\x85\xA0+euro)"), 0x13},
      {QStringLiteral("0"), char(0xFF)},
      {QStringLiteral("5"), 0x00},
      {QStringLiteral("48"), 0x2F},
  };
  for (const auto &[value, number] : choices) {
    QByteArray bytes = QByteArray::fromHex("1F73020000000000000000");
    bytes[8] = number;
    ExpectPrints({QStringLiteral("base"), QStringLiteral("--codepage"), value},
                 Line("Base Parameter", ToHex(bytes)) + Line("PNPA", "1F 72 00") +
                     Line("BAP", "1F 74 00"));
  }
}

TEST(CliDryRunTest, FirmwareImage) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString path = folder.filePath(QStringLiteral("printer.bin"));
  const QByteArray file = WriteValidFirmware(path, 300);
  ASSERT_FALSE(file.isEmpty());
  ExpectPrints({QStringLiteral("firmware"), path},
               Line("update", ToHex(ExpectedFirmwareImage(file))));
  // The smallest valid file: the image begins 1F 75 00 00 01 00.
  ASSERT_FALSE(WriteValidFirmware(path, 256).isEmpty());
  const CliResult result = RunCliProcess({QStringLiteral("firmware"), path});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(result.out.startsWith("update\t1F 75 00 00 01 00 "))
      << result.out.left(40).toStdString();
}

TEST(CliDryRunTest, FirmwareRefusals) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString shortFile = folder.filePath(QStringLiteral("short.bin"));
  ASSERT_TRUE(WriteFileBytes(shortFile, ValidFirmwareBytes(255)));
  QByteArray badSum = ValidFirmwareBytes(512);
  badSum[100] = char(badSum[100] + 1);
  const QString badSumFile = folder.filePath(QStringLiteral("sum.bin"));
  ASSERT_TRUE(WriteFileBytes(badSumFile, badSum));
  QByteArray longer = ValidFirmwareBytes(512);
  longer.append('\0'); // one byte more than its length field says
  const QString longerFile = folder.filePath(QStringLiteral("longer.bin"));
  ASSERT_TRUE(WriteFileBytes(longerFile, longer));
  const QString missing = folder.filePath(QStringLiteral("missing.bin"));

  for (const QString &command : {QStringLiteral("firmware"), QStringLiteral("check-firmware")}) {
    ExpectRefused({command, shortFile},
                  QStringLiteral("Invalid Firmware (shorter than 256 bytes)"));
    ExpectRefused({command, badSumFile}, QStringLiteral("Invalid Firmware (word sum is not zero)"));
    ExpectRefused({command, longerFile}, QStringLiteral("Invalid Firmware (length field"));
    ExpectRefused({command, missing}, QStringLiteral("Need Firmware"));
    ExpectRefused({command, folder.path()}, QStringLiteral("Need Firmware"));
  }
}

// The largest firmware makes 192 MiB of text. The tool writes it as it
// makes it, holding little more than the image itself: its peak memory is
// read while it waits on a full pipe after its first piece, by which time
// a tool that made all of its text first would have made it.
TEST(CliDryRunTest, LargestFirmwareIsPrintedAsItIsMade) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString path = folder.filePath(QStringLiteral("largest.bin"));
  ASSERT_TRUE(WriteSparseValidFirmware(path, kFirmwareMaxBytes));
  QProcess process;
  process.start(CliPath(), {QStringLiteral("firmware"), path});
  ASSERT_TRUE(process.waitForReadyRead(30000));
  QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
  ASSERT_TRUE(status.open(QIODevice::ReadOnly));
  qint64 peakKb = -1;
  for (const QByteArray &line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:"))
      peakKb = line.mid(6).trimmed().split(' ').first().toLongLong();
  qint64 printed = 0;
  do
    printed += process.readAllStandardOutput().size();
  while (process.waitForReadyRead(30000));
  ASSERT_TRUE(process.state() == QProcess::NotRunning || process.waitForFinished(30000));
  printed += process.readAllStandardOutput().size();
  EXPECT_EQ(process.exitCode(), 0);
  // "update", a tab, 3 characters a byte of the image (the last one's
  // blank is the end of the line).
  EXPECT_EQ(printed, 7 + 3 * (kFirmwareMaxBytes + 6));
  ASSERT_GT(peakKb, 0);
  EXPECT_LT(peakKb * 1024, kFirmwareMaxBytes + 48 * 1024 * 1024) << peakKb << " kB";
}

TEST(CliDryRunTest, CheckFirmwareOnly) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString path = folder.filePath(QStringLiteral("ok.bin"));
  ASSERT_FALSE(WriteValidFirmware(path, 258).isEmpty());
  const CliResult result = RunCliProcess({QStringLiteral("check-firmware"), path});
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  EXPECT_EQ(result.outText(), path + QStringLiteral(": valid firmware of 258 bytes\n"));
}

// A w × h bitmap, white with the pixel (x, y) in `ink` when given.
QString Bitmap(const QTemporaryDir &folder, const QString &name, int w, int h, int bpp = 24,
               int x = 0, int y = 0, QRgb ink = qRgb(0, 0, 0)) {
  QImage picture(w, h, QImage::Format_RGB32);
  picture.fill(Qt::white);
  picture.setPixel(x, y, ink);
  BmpFormat format;
  format.bitsPerPixel = bpp;
  return SaveFile(folder.path(), name, WriteBmp(picture, format));
}

TEST(CliDryRunTest, LogoStream) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString dot = Bitmap(folder, QStringLiteral("dot.bmp"), 1, 1);
  // One record: x = 1, y = 1, the dot in bit 7, seven zero padding columns.
  const std::string record = "01 00 01 00 80 00 00 00 00 00 00 00";
  ExpectPrints({QStringLiteral("logo"), dot}, Line("LOGO TO NVRAM", "1C 71 01 " + record));
  // 9 × 9 with a near-white dot at (8, 8): x = 2, y = 2; column 8 holds the
  // dot as bit 7 of its second byte; 254, 254, 254 prints.
  const QString corner =
      Bitmap(folder, QStringLiteral("corner.bmp"), 9, 9, 24, 8, 8, qRgb(254, 254, 254));
  std::string second = "02 00 02 00";
  for (int column = 0; column < 16; ++column)
    second += column == 8 ? " 00 80" : " 00 00";
  ExpectPrints({QStringLiteral("logo"), dot, corner, dot},
               Line("LOGO TO NVRAM", "1C 71 03 " + record + ' ' + second + ' ' + record));
}

TEST(CliDryRunTest, LogoRefusals) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString dot = Bitmap(folder, QStringLiteral("dot.bmp"), 1, 1);
  const QString widest = Bitmap(folder, QStringLiteral("576.bmp"), 576, 1, 1);
  const QString tooWide = Bitmap(folder, QStringLiteral("577.bmp"), 577, 1, 1);
  // 576 wide: 4 + 576·y bytes a record; y = 113 takes 3 + 65092 bytes,
  // y = 114 does not fit. A 40 × 88 logo (4 + 440 bytes) then fills the
  // 65539 bytes exactly.
  const QString fits = Bitmap(folder, QStringLiteral("fits.bmp"), 576, 904, 1);
  const QString filler = Bitmap(folder, QStringLiteral("filler.bmp"), 40, 88, 1);
  const QString tooHigh = Bitmap(folder, QStringLiteral("high.bmp"), 576, 912, 1);
  const QString notBitmap = folder.filePath(QStringLiteral("text.bmp"));
  ASSERT_TRUE(WriteFileBytes(notBitmap, "not a picture"));
  const QString missing = folder.filePath(QStringLiteral("missing.bmp"));

  EXPECT_EQ(RunCliProcess({QStringLiteral("logo"), widest}).exitCode, 0);
  EXPECT_EQ(RunCliProcess({QStringLiteral("logo"), fits}).exitCode, 0);
  ExpectRefused({QStringLiteral("logo"), dot, tooWide},
                tooWide + QStringLiteral(": Picture invalid"));
  ExpectRefused({QStringLiteral("logo"), notBitmap},
                notBitmap + QStringLiteral(": Picture invalid"));
  ExpectRefused({QStringLiteral("logo"), dot, missing},
                missing + QStringLiteral(": Error! (no such file)."));
  ExpectRefused({QStringLiteral("logo"), tooHigh},
                tooHigh + QStringLiteral(": Error! (the logos would take"));
  const CliResult full = RunCliProcess({QStringLiteral("logo"), fits, filler});
  EXPECT_EQ(full.exitCode, 0) << ::testing::PrintToString(full);
  EXPECT_EQ(full.out.size(), qsizetype(sizeof("LOGO TO NVRAM\t")) - 1 + 65539 * 3);
  ExpectRefused({QStringLiteral("logo"), fits, filler, dot},
                dot + QStringLiteral(": Error! (the logos would take 65551 bytes, more than"));
  ExpectRefused({QStringLiteral("logo")}, QStringLiteral("logo needs at least one FILE.bmp"));
  // The count travels in one byte.
  QStringList many{QStringLiteral("logo")};
  for (int i = 0; i < 256; ++i)
    many << dot;
  ExpectRefused(many, QStringLiteral("at most 255 logos"));
  many.removeLast();
  const CliResult most = RunCliProcess(many);
  EXPECT_EQ(most.exitCode, 0) << ::testing::PrintToString(most);
  EXPECT_TRUE(most.out.startsWith("LOGO TO NVRAM\t1C 71 FF 01 00"))
      << most.out.left(40).toStdString();
}

} // namespace
} // namespace pellicar::test
