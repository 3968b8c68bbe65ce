// The printer's side: byte streams written by hand from the command rules
// (not by our builders), decoded in every split, and what the printer
// makes of them: its log, its state, its answers.

#include "emulation/command_decoder.h"
#include "emulation/paper_picture.h"
#include "emulation/printer_status.h"
#include "emulation/virtual_printer.h"
#include "support/firmware_files.h"
#include "support/json_path.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace pellicar::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct Outcome {
  QStringList log;
  QByteArray answers;
  QJsonObject state;
};

// Feeds `pieces` to one decoder, then ends the stream.
Outcome Decode(const QList<QByteArray> &pieces, PrinterStatus status = PrinterStatus::Ready) {
  VirtualPrinterOptions options;
  options.status = status;
  VirtualPrinter printer(options);
  Outcome outcome;
  printer.onLog = [&](const QString &line) { outcome.log << line; };
  printer.onAnswer = [&](const QByteArray &bytes) { outcome.answers += bytes; };
  CommandDecoder decoder(printer);
  for (const QByteArray &piece : pieces)
    decoder.Feed(piece);
  decoder.EndOfStream();
  outcome.state = printer.State().ToJson();
  return outcome;
}

QByteArray Hex(const char *hex) { return QByteArray::fromHex(hex); }

QByteArray FirmwareUploadOf(const QByteArray &file, qint64 declared) {
  QByteArray prefix = Hex("1f75");
  for (int shift = 24; shift >= 0; shift -= 8)
    prefix += char(declared >> shift);
  return prefix + file;
}

struct Case {
  const char *name;
  QByteArray bytes;
  QStringList log;
  std::vector<std::pair<const char *, QJsonValue>> state;
};

std::vector<Case> Cases() {
  const QByteArray firmware = ValidFirmwareBytes(300000, 5);
  QByteArray badSum = ValidFirmwareBytes(256, 2);
  badSum[100] = char(badSum[100] + 1);
  QByteArray wrongField = ValidFirmwareBytes(260, 3);
  PutLittleEndian(wrongField, 4, 256);
  BalanceWordSum(wrongField);

  return {
      {"base defaults",
       Hex("1f73020000000000ff0000"),
       {"Base Parameter: 19200 baud, parity none, cutter on, buzzer on, drawer on, 48 characters "
        "per line, density normal, code page 255 (CHINESE), font A"},
       {{"base.baudRate", 19200},
        {"base.parity", "none"},
        {"base.cutter", true},
        {"base.charsPerLine", 48},
        {"base.density", "normal"},
        {"base.codePage", 255},
        {"base.codePageName", "CHINESE"},
        {"base.font", "A"},
        {"base.reprint", QJsonValue()},
        {"ethernet", QJsonValue()}}},
      {"base, every value changed",
       Hex("1f73060101010101"
           "2f0202"),
       {"Base Parameter: 1200 baud, parity even, cutter off, buzzer off, drawer off, 40 "
        "characters per line, density dark, code page 47 (Cp874), font C"},
       {{"base.baudRate", 1200},
        {"base.parity", "even"},
        {"base.drawer", false},
        {"base.charsPerLine", 40},
        {"base.density", "dark"},
        {"base.codePageName", "Cp874"},
        {"base.font", "C"}}},
      {"base, values the printer does not know stay numbers",
       Hex("1f73090200000507"
           "0b0307"),
       {"Base Parameter: baud index 9 (unknown), parity 3 (unknown), cutter 2 (unknown), buzzer "
        "on, drawer on, characters per line index 5 (unknown), density 7 (unknown), code page 11 "
        "(unknown), font 7 (unknown)"},
       {{"base.baudRate", 9},
        {"base.cutter", 2},
        {"base.codePage", 11},
        {"base.codePageName", QJsonValue()},
        {"base.font", 7}}},
      {"switches",
       Hex("1f7201"
           "1f7400"),
       {"Auto Reprint: on", "Buzz After Printing: off"},
       {{"base.reprint", true},
        {"base.buzzAfterPrinting", false},
        {"base.baudRate", QJsonValue()}}},
      {"self-test", Hex("1254"), {"SelfTest: printed page 1"}, {{"counters.selfTests", 1}}},
      {"IP", Hex("1f69c0a80157"), {"Set IP: 192.168.1.87"}, {{"ethernet.ip", "192.168.1.87"}}},
      {"MAC",
       Hex("1f6d006465666768"),
       {"Set MAC: 00:64:65:66:67:68"},
       {{"ethernet.mac", "00:64:65:66:67:68"}, {"ethernet.ip", QJsonValue()}}},
      {"speeds",
       Hex("1f70000084"
           "1f70010101"
           "1f70010100"
           "1f70010001"
           "1f70010000"),
       {"Set Speed: Auto Negotiation", "Set Speed: 100M Full Duplex", "Set Speed: 100M Half Duplex",
        "Set Speed: 10M Full Duplex", "Set Speed: 10M Half Duplex"},
       {{"ethernet.speed", "10M Half Duplex"}}},
      {"unknown speed",
       Hex("1f70020000"),
       {"Set Speed: 02 00 00 (unknown)"},
       {{"ethernet.speed", 0x020000}}},
      {"Wi-Fi open",
       Hex("1f7704"
           "53534944"
           "000000"),
       {"Set WIFI: SSID \"SSID\", open"},
       {{"wifi.ssid", "SSID"},
        {"wifi.security", "open"},
        {"wifi.cipher", QJsonValue()},
        {"wifi.key", ""}}},
      {"Wi-Fi WPA2 AES",
       Hex("1f7704"
           "53534944"
           "030108") +
           "12345678",
       {"Set WIFI: SSID \"SSID\", WPA2-PSK, AES, key \"12345678\""},
       {{"wifi.security", "wpa2-psk"}, {"wifi.cipher", "aes"}, {"wifi.key", "12345678"}}},
      {"Wi-Fi WPA TKIP, empty key",
       Hex("1f7700"
           "020000"),
       {"Set WIFI: SSID \"\", WPA-PSK, TKIP, key \"\""},
       {{"wifi.ssid", ""}, {"wifi.security", "wpa-psk"}, {"wifi.cipher", "tkip"}}},
      {"Wi-Fi WEP share and open",
       Hex("1f7701"
           "41"
           "010005") +
           "abcde" +
           Hex("1f7701"
               "42"
               "000103") +
           "xyz",
       {"Set WIFI: SSID \"A\", WEP share, key \"abcde\"",
        "Set WIFI: SSID \"B\", WEP open, key \"xyz\""},
       {{"wifi.ssid", "B"}, {"wifi.security", "wep-open"}, {"wifi.cipher", QJsonValue()}}},
      {"Wi-Fi unknown security",
       Hex("1f7701"
           "43"
           "070000"),
       {"Set WIFI: SSID \"C\", security 07 00 (unknown), key \"\""},
       {{"wifi.security", 0x0700}}},
      {"unknown switch value, black-mark mode and cipher",
       Hex("1f7207"
           "1f1b1f8004050655"
           "1f7701"
           "44"
           "020500"),
       {"Auto Reprint: 7 (unknown)", "Black Mark: mode 85 (unknown)",
        "Set WIFI: SSID \"D\", WPA-PSK, cipher 5 (unknown), key \"\""},
       {{"base.reprint", 7}, {"blackMark.enabled", 85}, {"wifi.cipher", 5}}},
      {"black mark",
       Hex("1f1b1f8004050644"
           "1f1b1f810405060960"
           "1f1b1f820405060050"
           "1d2846040001002800"
           "1d284604000200"
           "0000"
           "1f1b1f8004050666"),
       {"Black Mark: on", "Set BM Length: 2400 dots (300 mm)", "Set BM Width: 80 dots (10 mm)",
        "Set BM Print Offset: 40 dots (5 mm)", "Set BM Cut Offset: 0 dots (0 mm)",
        "Black Mark: off"},
       {{"blackMark.enabled", false},
        {"blackMark.pitchDots", 2400},
        {"blackMark.widthDots", 80},
        {"blackMark.printOffsetDots", 40},
        {"blackMark.cutOffsetDots", 0}}},
      {"black-mark distance of -1 mm as the window sends it",
       Hex("1f1b1f8104050600f8"),
       {"Set BM Length: 248 dots (31 mm)"},
       {{"blackMark.pitchDots", 248}, {"blackMark.enabled", QJsonValue()}}},
      {"next mark: text, line feed, form feed",
       QByteArray("HELLO WORLD!\n\x0c"),
       {"Line: \"HELLO WORLD!\"", "Form feed, printed page 1"},
       {{"counters.formFeeds", 1}, {"counters.cuts", 0}}},
      {"form feed and cut without text print no page",
       Hex("0c1d5600"
           "0a"),
       {"Form feed", "Cut: full", "Line feed"},
       {{"counters.formFeeds", 1}, {"counters.cuts", 1}}},
      {"a cut ends a page",
       QByteArray("AB") + Hex("1d5601"
                              "1d564205"),
       {"Cut: partial, printed page 1", "Cut: partial after a feed of 5"},
       {{"counters.cuts", 2}}},
      {"logos",
       Hex("1c7102"
           "01000100"
           "8000000000000000"
           "01000200"
           "0000000000000000ff01"
           "000000000000"),
       {"Logos stored: 2 (35 bytes)"},
       {{"logos.0.widthDots", 8},
        {"logos.0.heightDots", 8},
        {"logos.0.rasterBytes", 8},
        {"logos.1.heightDots", 16},
        {"logos.1.rasterBytes", 16},
        {"logos.0.png", QJsonValue()}}},
      {"no logos", Hex("1c7100"), {"Logos stored: 0 (3 bytes)"}, {{"logos", QJsonArray()}}},
      {"logos larger than the logo memory",
       Hex("1c7101"
           "4800e400") +
           QByteArray(8 * 72 * 228, '\x55'),
       {"Logos refused: 131,335 bytes declared, more than the logo memory of 65,539 bytes"},
       {{"logos", QJsonValue()}}},
      {"firmware that passes",
       FirmwareUploadOf(firmware, firmware.size()),
       {"Firmware upload: 300,000 bytes, check passed"},
       {{"firmware.bytes", 300000}, {"firmware.check", "passed"}}},
      {"firmware whose words do not sum to 0",
       FirmwareUploadOf(badSum, badSum.size()),
       {"Firmware upload: 256 bytes, check failed: word sum is not zero"},
       {{"firmware.check", "failed: word sum is not zero"}}},
      {"firmware whose length field is wrong",
       FirmwareUploadOf(wrongField, wrongField.size()),
       {"Firmware upload: 260 bytes, check failed: length field does not match the file's length"},
       {}},
      {"firmware shorter than 256 bytes",
       FirmwareUploadOf(QByteArray(16, '\0'), 16) + "OK\n",
       {"Firmware upload: 16 bytes, check failed: shorter than 256 bytes", "Line: \"OK\""},
       {}},
      {"firmware cut short",
       FirmwareUploadOf(firmware.left(1000), firmware.size()),
       {"Firmware upload: 1,000 of 300,000 bytes, check failed: the data ended early"},
       {{"firmware.bytes", 1000}}},
      {"status requests",
       Hex("100401"
           "100402"
           "100403"
           "100404"),
       {"Status request 1 (printer status): answered 12",
        "Status request 2 (offline cause): answered 12",
        "Status request 3 (error cause): answered 12",
        "Status request 4 (paper sensor): answered 12"},
       {{"counters.statusRequests", 4}}},
      {"unknown bytes never stop what follows",
       Hex("00ff1f99"
           "100405"
           "1f69"
           "0a000001"),
       {"Unknown bytes (7): 00 ff 1f 99 10 04 05", "Set IP: 10.0.0.1"},
       {{"counters.unknownBytes", 7}, {"counters.bytesReceived", 13}}},
      {"a black-mark command with a wrong fixed byte is unknown as a whole",
       Hex("1f1b1f81040507"
           "0960"),
       {"Unknown bytes (8): 1f 1b 1f 81 04 05 07 09"},
       {}},
      {"text and unknown bytes alternate",
       QByteArray("AB\x01"
                  "CD\n"),
       {"Unknown bytes (1): 01", "Line: \"ABCD\""},
       {}},
      {"a command cut short by the end of the stream",
       Hex("1254"
           "1f69c0"),
       {"SelfTest: printed page 1",
        "Incomplete command at the end of the data (3 bytes): 1f 69 c0"},
       {{"counters.unknownBytes", 3}}},
      {"a long run of garbage is shown by its start",
       QByteArray(40, '\x01'),
       {"Unknown bytes (40): " + QString(QStringLiteral("01 ")).repeated(31) +
        QStringLiteral("01 ...")},
       {}},
  };
}

// Every way of cutting `bytes` into pieces that the test tries: whole,
// byte by byte, and a few random cuttings.
std::vector<QList<QByteArray>> Splits(const QByteArray &bytes) {
  std::vector<QList<QByteArray>> splits{{bytes}};
  QList<QByteArray> single;
  for (char byte : bytes)
    single << QByteArray(1, byte);
  if (bytes.size() < 100000)
    splits.push_back(single);
  std::mt19937 random(7);
  for (int round = 0; round < 3; ++round) {
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < bytes.size();) {
      const qsizetype size = std::uniform_int_distribution<qsizetype>(
          1, std::max<qsizetype>(1, bytes.size() / 3))(random);
      pieces << bytes.mid(at, size);
      at += size;
    }
    splits.push_back(pieces);
  }
  return splits;
}

TEST(EmulationTest, EachCommandGivesItsLogAndStateInEverySplit) {
  for (const Case &c : Cases()) {
    SCOPED_TRACE(c.name);
    for (const QList<QByteArray> &pieces : Splits(c.bytes)) {
      SCOPED_TRACE(pieces.size());
      const Outcome outcome = Decode(pieces);
      EXPECT_THAT(outcome.log, ElementsAreArray(c.log));
      for (const auto &[path, value] : c.state)
        EXPECT_EQ(JsonText(JsonAt(outcome.state, QString::fromLatin1(path))), JsonText(value))
            << path;
      EXPECT_EQ(JsonAt(outcome.state, QStringLiteral("counters.bytesReceived")).toInteger(),
                c.bytes.size());
      if (::testing::Test::HasFailure())
        return;
    }
  }
}

TEST(EmulationTest, StatusAnswersFollowTheStandardBits) {
  struct Row {
    PrinterStatus status;
    const char *answers; // to n = 1, 2, 3, 4
  };
  const Row rows[] = {
      {PrinterStatus::Ready, "12121212"},     {PrinterStatus::Offline, "1a121212"},
      {PrinterStatus::CoverOpen, "1a161212"}, {PrinterStatus::PaperNearEnd, "1212121e"},
      {PrinterStatus::PaperOut, "1a32127e"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(PrinterStatusName(row.status).toStdString());
    EXPECT_EQ(ParsePrinterStatus(PrinterStatusName(row.status)), row.status);
    const Outcome outcome = Decode({Hex("100401"
                                        "100402"
                                        "100403"
                                        "100404")},
                                   row.status);
    EXPECT_EQ(outcome.answers.toHex().toStdString(), row.answers);
  }
  EXPECT_EQ(ParsePrinterStatus(u"jammed"), std::nullopt);
}

TEST(EmulationTest, HugeDeclaredLengthsAreReadPastWithoutBeingKept) {
  const QByteArray data(4 * 1024 * 1024, '\x5a');
  const Outcome logos = Decode({Hex("1c7101"
                                    "ffffffff"),
                                data, data});
  EXPECT_THAT(logos.log,
              ElementsAre("Logos not stored: the data ended after 8,388,615 bytes, within record 1 "
                          "of 1"));
  EXPECT_EQ(JsonText(JsonAt(logos.state, QStringLiteral("logos"))), "null");

  const Outcome firmware = Decode({Hex("1f75"
                                       "ffffffff"),
                                   data, data});
  EXPECT_THAT(firmware.log, ElementsAre("Firmware upload: 8,388,608 of 4,294,967,295 bytes, check "
                                        "failed: the data ended early"));
}

TEST(EmulationTest, APageKeepsItsFirstLinesAndSaysHowManyItDropped) {
  QByteArray lines;
  for (qsizetype i = 0; i < VirtualPrinter::kMaxPageLines + 2; ++i)
    lines += "A\n";
  const Outcome outcome = Decode({lines + "\x0c"});
  ASSERT_EQ(outcome.log.size(), VirtualPrinter::kMaxPageLines + 3);
  EXPECT_EQ(outcome.log.back(),
            "Form feed, printed page 1, 2 more lines not drawn (a page holds 1,000)");
}

TEST(EmulationTest, ANewLogoSetReplacesTheOldOne) {
  VirtualPrinterOptions options;
  options.pictures = true;
  VirtualPrinter printer(options);
  QStringList written;
  printer.onPicture = [&](const QString &name, const QImage &picture) {
    written << name + (picture.isNull() ? QStringLiteral(" removed") : QString());
  };
  CommandDecoder decoder(printer);
  const QByteArray dot = Hex("01000100") + Hex("80") + QByteArray(7, '\0');
  decoder.Feed(Hex("1c7102") + dot + dot);
  decoder.Feed(Hex("1c7101") + dot);
  EXPECT_THAT(written, ElementsAre("logo-1.png", "logo-2.png", "logo-1.png", "logo-2.png removed"));
  EXPECT_EQ(printer.State().logos->size(), 1);
  EXPECT_EQ(JsonAt(printer.State().ToJson(), QStringLiteral("logos.0.png")), "logo-1.png");
}

TEST(EmulationTest, LogoPictureFollowsTheColumnRaster) {
  // x = 1, y = 2: eight columns of two bytes; column 0 has its top row and
  // row 9 set, column 7 its bottom row.
  QByteArray raster(16, '\0');
  raster[0] = char(0x80);
  raster[1] = char(0x40);
  raster[15] = char(0x01);
  const QImage picture = LogoPicture(1, 2, raster);
  ASSERT_EQ(picture.size(), QSize(8, 16));
  QStringList dots;
  for (int row = 0; row < 16; ++row)
    for (int column = 0; column < 8; ++column)
      if (qGray(picture.pixel(column, row)) < 128)
        dots << QStringLiteral("%1,%2").arg(column).arg(row);
  EXPECT_THAT(dots, ElementsAre("0,0", "0,9", "7,15"));
}

// Received bytes in the log: printable UTF-8 stays, everything a terminal
// or a line-based reader would act on is shown as \xNN, byte by byte.
TEST(EmulationTest, EscapedTextShowsOnlyWhatIsSafeToPrint) {
  const struct {
    QByteArray bytes;
    const char *shown;
  } rows[] = {
      {"caf\xc3\xa9 \xe5\xba\x97", "caf\u00e9 \u5e97"},
      {"a\\b\"c", "a\\\\b\\\"c"},
      {"\x1b[2J\r\n\x7f", "\\x1b[2J\\x0d\\x0a\\x7f"},
      {"\xc2\x9b", "\\xc2\\x9b"}, // C1 control CSI
      {"\xe2\x80\xa8\xe2\x80\xae",
       "\\xe2\\x80\\xa8\\xe2\\x80\\xae"}, // line separator, bidi override
      {"\xc0\xaf\xed\xa0\x80\xff",
       "\\xc0\\xaf\\xed\\xa0\\x80\\xff"}, // overlong, surrogate, no UTF-8
      {"\xe5\xba", "\\xe5\\xba"},         // cut short
  };
  for (const auto &row : rows)
    EXPECT_EQ(EscapedText(row.bytes), QString::fromUtf8(row.shown)) << row.shown;
}

} // namespace
} // namespace pellicar::test
