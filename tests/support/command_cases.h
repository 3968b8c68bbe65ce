#pragma once

// Cases of the configuration actions: what the controls hold, and the bytes
// the printer must receive (or the refusal). Shared by the builders' unit
// tests, the window's tests and the command-line tool's tests, so that all
// three check the same table.

#include "commands/base_commands.h"
#include "commands/blackmark_commands.h"
#include "commands/ethernet_commands.h"
#include "commands/wifi_commands.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace pellicar {

// Lets GoogleTest show a sequence readably when a comparison fails.
inline void PrintTo(const CommandSequence &sequence, std::ostream *out) {
  *out << '"' << sequence.documentName.toStdString() << "\" ["
       << sequence.bytes.toHex(' ').toUpper().toStdString() << ']';
}

} // namespace pellicar

namespace pellicar::test {

// "1F 69 C0": upper-case pairs separated by one blank.
inline std::string ToHex(const QByteArray &bytes) {
  return bytes.toHex(' ').toUpper().toStdString();
}

// The hex of `count` copies of the UTF-8 bytes of `text`, for long cases.
inline std::string RepeatedHex(const char *text, int count) {
  return ToHex(QByteArray(text).repeated(count));
}

// One sequence an action must produce.
struct ExpectedSequence {
  std::string documentName;
  std::string hex;
};

// Buttons that read no control.
struct FixedCase {
  const char *button; // object name of the button in the window
  std::function<CommandSequence()> build;
  ExpectedSequence expected;
};

inline const std::vector<FixedCase> kFixedCases = {
    {"btnSelfTest", BuildSelfTest, {"SelfTest", "12 54"}},
    {"btnUseBM", BuildEnableBlackMark, {"Enable BM", "1F 1B 1F 80 04 05 06 44"}},
    {"btnUnuseBM", BuildDisableBlackMark, {"Disable BM", "1F 1B 1F 80 04 05 06 66"}},
    {"btnBMNextBM",
     BuildNextBlackMark,
     {"Set Next BM", "48 45 4C 4C 4F 20 57 4F 52 4C 44 21 0A 0C"}},
    {"btnBMNextCut", BuildNextCut, {"Set Next Cut", "1D 56 00"}},
};

// ---- Base tab ("SET", btnBaseSet) -------------------------------------------

struct BaseCase {
  const char *label;
  BaseSettings settings;
  std::array<std::string, 3> hex; // "Base Parameter", "PNPA", "BAP"
};

inline BaseSettings Base(const std::function<void(BaseSettings &)> &change) {
  BaseSettings settings;
  change(settings);
  return settings;
}

inline const std::vector<BaseCase> kBaseCases = {
    {"defaults", {}, {"1F 73 02 00 00 00 00 00 FF 00 00", "1F 72 00", "1F 74 00"}},
    {"baud 1200 is index 6, not 0",
     Base([](BaseSettings &s) { s.baudRateIndex = 6; }),
     {"1F 73 06 00 00 00 00 00 FF 00 00", "1F 72 00", "1F 74 00"}},
    {"cutter cleared",
     Base([](BaseSettings &s) { s.cutter = false; }),
     {"1F 73 02 01 00 00 00 00 FF 00 00", "1F 72 00", "1F 74 00"}},
    {"all three devices cleared",
     Base([](BaseSettings &s) { s.cutter = s.buzzer = s.drawer = false; }),
     {"1F 73 02 01 01 01 00 00 FF 00 00", "1F 72 00", "1F 74 00"}},
    {"CP858, row 20, is 13",
     Base([](BaseSettings &s) { s.codePageIndex = 20; }),
     {"1F 73 02 00 00 00 00 00 13 00 00", "1F 72 00", "1F 74 00"}},
    {"Cp874, the last code page, is 2F",
     Base([](BaseSettings &s) { s.codePageIndex = 48; }),
     {"1F 73 02 00 00 00 00 00 2F 00 00", "1F 72 00", "1F 74 00"}},
    // Two mixes in which neighbouring bytes differ, so that every byte is
    // seen to come from its own control.
    {"every byte from its own control",
     Base([](BaseSettings &s) {
       s.baudRateIndex = 5;
       s.buzzer = false;
       s.charsPerLineIndex = 1;
       s.codePageIndex = 20;
       s.parityIndex = 2;
       s.fontIndex = 1;
     }),
     {"1F 73 05 00 01 00 01 00 13 02 01", "1F 72 00", "1F 74 00"}},
    {"every byte from its own control, other values",
     Base([](BaseSettings &s) {
       s.baudRateIndex = 3;
       s.drawer = false;
       s.densityIndex = 1;
       s.codePageIndex = 5;
       s.parityIndex = 1;
       s.fontIndex = 2;
     }),
     {"1F 73 03 00 00 01 00 01 00 01 02", "1F 72 00", "1F 74 00"}},
    {"reprint on",
     Base([](BaseSettings &s) { s.reprint = true; }),
     {"1F 73 02 00 00 00 00 00 FF 00 00", "1F 72 01", "1F 74 00"}},
    {"both switches on",
     Base([](BaseSettings &s) { s.reprint = s.buzzAfterPrinting = true; }),
     {"1F 73 02 00 00 00 00 00 FF 00 00", "1F 72 01", "1F 74 01"}},
};

// ---- Ethernet tab ------------------------------------------------------------

// `refusedText` set: the action raises the conversion error naming that text
// and sends nothing; otherwise it sends `hex`.
struct IpCase {
  const char *label;
  std::array<const char *, 4> texts; // edtIPAD1..edtIPAD4
  std::string hex;                   // "Set IP"
  const char *refusedText = nullptr;
};

inline const std::vector<IpCase> kIpCases = {
    {"defaults", {"192", "168", "1", "87"}, "1F 69 C0 A8 01 57"},
    {"low 8 bits of out-of-range values", {"256", "300", "-1", "0"}, "1F 69 00 2C FF 00"},
    {"hexadecimal prefixes", {"$FF", "0xFF", "x7f", "0X0a"}, "1F 69 FF FF 7F 0A"},
    {"sign and leading blanks", {"+5", " 10", "  -$10", "-2147483648"}, "1F 69 05 0A F0 00"},
    {"32-bit extremes",
     {"2147483647", "$FFFFFFFF", "$80000000", "0000000000001"},
     "1F 69 FF FF 00 01"},
    {"first field bad", {"1A", "168", "1", "87"}, "", "1A"},
    {"third bad names the third, though the fourth is bad too",
     {"192", "168", "abc", "2.5"},
     "",
     "abc"},
    {"fourth bad after three good ones", {"192", "168", "1", "87 "}, "", "87 "},
    {"empty field", {"192", "", "1", "87"}, "", ""},
    {"beyond the signed range", {"192", "168", "2147483648", "87"}, "", "2147483648"},
};

struct MacCase {
  const char *label;
  std::array<const char *, 5> texts; // edtMAC1..edtMAC5
  std::string hex;                   // "Set MAC"
  const char *refusedText = nullptr;
};

inline const std::vector<MacCase> kMacCases = {
    {"defaults are decimal", {"100", "101", "102", "103", "104"}, "1F 6D 00 64 65 66 67 68"},
    {"$FF and 0xFF", {"$FF", "0xFF", "255", "-1", "511"}, "1F 6D 00 FF FF FF FF FF"},
    {"wrap", {"256", "300", "-256", "$1FF", "0"}, "1F 6D 00 00 2C 00 FF 00"},
    {"a hexadecimal pair without prefix is refused", {"100", "1A", "102", "103", "104"}, "", "1A"},
    {"the last field is converted too", {"100", "101", "102", "103", "0x"}, "", "0x"},
    {"first bad of two", {"100", "$", "102", "103", "25mm"}, "", "$"},
};

struct SpeedCase {
  int index; // cbbSpeed
  std::string hex;
};

inline const std::vector<SpeedCase> kSpeedCases = {
    {0, "1F 70 00 00 84"}, {1, "1F 70 01 01 01"}, {2, "1F 70 01 01 00"},
    {3, "1F 70 01 00 01"}, {4, "1F 70 01 00 00"},
};

// ---- Wi-Fi tab ("SET", btnWIFISet) -------------------------------------------

// `tooLongField` set: refused with ETextTooLong naming that field; otherwise
// the action sends `hex` as "Set WIFI".
struct WifiCase {
  const char *label;
  WifiSettings settings;
  std::string hex;
  const char *tooLongField = nullptr;
};

inline WifiSettings Wifi(const std::function<void(WifiSettings &)> &change) {
  WifiSettings settings;
  change(settings);
  return settings;
}

inline const std::vector<WifiCase> kWifiCases = {
    {"defaults, 10 bytes", {}, "1F 77 04 53 53 49 44 00 00 00"},
    {"empty SSID, open, 6 bytes", Wifi([](WifiSettings &s) { s.ssid.clear(); }),
     "1F 77 00 00 00 00"},
    {"WPA2-PSK AES with an eight-character key, 18 bytes", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wpa;
       s.wpaTypeIndex = 1;
       s.wpaKey = QStringLiteral("12345678");
     }),
     "1F 77 04 53 53 49 44 03 01 08 31 32 33 34 35 36 37 38"},
    {"WPA-PSK TPIK with an empty key", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wpa;
       s.cipherIndex = 0;
     }),
     "1F 77 04 53 53 49 44 02 00 00"},
    {"WEP SHARE with a five-character key", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wep;
       s.wepTypeIndex = 1;
       s.wepKey = QStringLiteral("abcde");
     }),
     "1F 77 04 53 53 49 44 01 00 05 61 62 63 64 65"},
    {"WEP OPEN", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wep;
       s.wepKey = QStringLiteral("abcde");
     }),
     "1F 77 04 53 53 49 44 00 01 05 61 62 63 64 65"},
    {"open sends neither key", Wifi([](WifiSettings &s) {
       s.wpaKey = QStringLiteral("wpa-key");
       s.wepKey = QStringLiteral("wep");
     }),
     "1F 77 04 53 53 49 44 00 00 00"},
    {"WPA sends the WPA key, not the WEP key", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wpa;
       s.wpaKey = QStringLiteral("k");
       s.wepKey = QStringLiteral("wep");
       s.wepTypeIndex = 1;
     }),
     "1F 77 04 53 53 49 44 02 01 01 6B"},
    {"WEP sends the WEP key, not the WPA key", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wep;
       s.wpaKey = QStringLiteral("wpa-key");
       s.wpaTypeIndex = 1;
       s.wepKey = QStringLiteral("w");
     }),
     "1F 77 04 53 53 49 44 00 01 01 77"},
    {"UTF-8 SSID counts bytes, not characters",
     Wifi([](WifiSettings &s) { s.ssid = QString::fromUtf8("Caf\xC3\xA9"); }),
     "1F 77 05 43 61 66 C3 A9 00 00 00"},
    {"SSID of 255 bytes", Wifi([](WifiSettings &s) { s.ssid = QString(255, u'a'); }),
     "1F 77 FF " + RepeatedHex("a", 255) + " 00 00 00"},
    {"key of 255 bytes in 85 three-byte characters", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wpa;
       s.wpaKey = QString::fromUtf8(QByteArray("\xE2\x82\xAC").repeated(85));
     }),
     "1F 77 04 53 53 49 44 02 01 FF " + RepeatedHex("\xE2\x82\xAC", 85)},
    {"unchosen key over 255 bytes is not looked at", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wpa;
       s.wpaKey = QStringLiteral("k");
       s.wepKey = QString(300, u'w');
     }),
     "1F 77 04 53 53 49 44 02 01 01 6B"},
    {"SSID of 256 bytes", Wifi([](WifiSettings &s) { s.ssid = QString(256, u'a'); }), "",
     "WIFI SSID"},
    {"SSID of 128 two-byte characters is 256 bytes", Wifi([](WifiSettings &s) {
       s.ssid = QString::fromUtf8(QByteArray("\xC3\xA9").repeated(128));
     }),
     "", "WIFI SSID"},
    {"WPA key of 256 bytes", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wpa;
       s.wpaKey = QString(256, u'k');
     }),
     "", "WPA SECRET KEY"},
    {"WEP key of 300 bytes", Wifi([](WifiSettings &s) {
       s.security = WifiSecurity::Wep;
       s.wepKey = QString(300, u'k');
     }),
     "", "WEP SECRET KEY"},
    {"SSID and key both too long: the SSID is named", Wifi([](WifiSettings &s) {
       s.ssid = QString(300, u'a');
       s.security = WifiSecurity::Wep;
       s.wepKey = QString(300, u'k');
     }),
     "", "WIFI SSID"},
};

// ---- Black-mark tab: the four distance fields ---------------------------------

struct DistanceCase {
  BlackMarkDistance field;
  const char *edit;   // object name of the field in the window
  const char *button; // object name of its "SET" button
  const char *text;
  ExpectedSequence expected;
  bool refused = false; // the conversion error names `text`
};

inline const std::vector<DistanceCase> kDistanceCases = {
    // Defaults.
    {BlackMarkDistance::Pitch,
     "edtBMLength",
     "btnBMLength",
     "300",
     {"Set BM Length", "1F 1B 1F 81 04 05 06 09 60"}},
    {BlackMarkDistance::Width,
     "edtBMWidth",
     "btnBMWidth",
     "10",
     {"Set BM Width", "1F 1B 1F 82 04 05 06 00 50"}},
    {BlackMarkDistance::PrintAfter,
     "edtBMStartAt",
     "btnBMStartAt",
     "0",
     {"Set BM Postion", "1D 28 46 04 00 01 00 00 00"}},
    {BlackMarkDistance::CutAfter,
     "edtBMCutAt",
     "btnBMCutAt",
     "0",
     {"Set BM Cut", "1D 28 46 04 00 02 00 00 00"}},
    // Byte order: high first in the printer's own commands, low first in GS ( F.
    {BlackMarkDistance::Pitch,
     "edtBMLength",
     "btnBMLength",
     "5",
     {"Set BM Length", "1F 1B 1F 81 04 05 06 00 28"}},
    {BlackMarkDistance::PrintAfter,
     "edtBMStartAt",
     "btnBMStartAt",
     "5",
     {"Set BM Postion", "1D 28 46 04 00 01 00 28 00"}},
    {BlackMarkDistance::CutAfter,
     "edtBMCutAt",
     "btnBMCutAt",
     "300",
     {"Set BM Cut", "1D 28 46 04 00 02 00 60 09"}},
    {BlackMarkDistance::Width,
     "edtBMWidth",
     "btnBMWidth",
     "8191",
     {"Set BM Width", "1F 1B 1F 82 04 05 06 FF F8"}},
    // A blank before the digits is skipped.
    {BlackMarkDistance::Pitch,
     "edtBMLength",
     "btnBMLength",
     " 25",
     {"Set BM Length", "1F 1B 1F 81 04 05 06 00 C8"}},
    {BlackMarkDistance::CutAfter,
     "edtBMCutAt",
     "btnBMCutAt",
     " 25",
     {"Set BM Cut", "1D 28 46 04 00 02 00 C8 00"}},
    // Hexadecimal prefixes.
    {BlackMarkDistance::Width,
     "edtBMWidth",
     "btnBMWidth",
     "$10",
     {"Set BM Width", "1F 1B 1F 82 04 05 06 00 80"}},
    {BlackMarkDistance::Width,
     "edtBMWidth",
     "btnBMWidth",
     "x10",
     {"Set BM Width", "1F 1B 1F 82 04 05 06 00 80"}},
    {BlackMarkDistance::Width,
     "edtBMWidth",
     "btnBMWidth",
     "0x10",
     {"Set BM Width", "1F 1B 1F 82 04 05 06 00 80"}},
    // Not range checked: bits above the sixteenth are lost, negatives round
    // toward zero.
    {BlackMarkDistance::Pitch,
     "edtBMLength",
     "btnBMLength",
     "8192",
     {"Set BM Length", "1F 1B 1F 81 04 05 06 00 00"}},
    {BlackMarkDistance::Pitch,
     "edtBMLength",
     "btnBMLength",
     "-1",
     {"Set BM Length", "1F 1B 1F 81 04 05 06 00 F8"}},
    {BlackMarkDistance::PrintAfter,
     "edtBMStartAt",
     "btnBMStartAt",
     "-1",
     {"Set BM Postion", "1D 28 46 04 00 01 00 F8 00"}},
    {BlackMarkDistance::Pitch,
     "edtBMLength",
     "btnBMLength",
     "-33", // -264 dots: -1 rem -8
     {"Set BM Length", "1F 1B 1F 81 04 05 06 FF F8"}},
    {BlackMarkDistance::Pitch,
     "edtBMLength",
     "btnBMLength",
     "-32", // -256 dots
     {"Set BM Length", "1F 1B 1F 81 04 05 06 FF 00"}},
    // d = 8 * n wraps in 32 bits.
    {BlackMarkDistance::Pitch,
     "edtBMLength",
     "btnBMLength",
     "536870911", // -8 dots
     {"Set BM Length", "1F 1B 1F 81 04 05 06 00 F8"}},
    {BlackMarkDistance::Width,
     "edtBMWidth",
     "btnBMWidth",
     "-2147483648", // 0 dots
     {"Set BM Width", "1F 1B 1F 82 04 05 06 00 00"}},
    {BlackMarkDistance::CutAfter,
     "edtBMCutAt",
     "btnBMCutAt",
     "$FFFFFFFF", // -1 mm
     {"Set BM Cut", "1D 28 46 04 00 02 00 F8 00"}},
    // Refused.
    {BlackMarkDistance::Pitch, "edtBMLength", "btnBMLength", "25 ", {}, true},
    {BlackMarkDistance::Width, "edtBMWidth", "btnBMWidth", "2.5", {}, true},
    {BlackMarkDistance::PrintAfter, "edtBMStartAt", "btnBMStartAt", "25mm", {}, true},
    {BlackMarkDistance::CutAfter, "edtBMCutAt", "btnBMCutAt", "", {}, true},
    {BlackMarkDistance::Pitch, "edtBMLength", "btnBMLength", "2147483648", {}, true},
};

} // namespace pellicar::test
