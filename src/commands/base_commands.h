#pragma once

#include "commands/command_sequence.h"

#include <array>
#include <vector>

namespace pellicar {

// Items of the Base tab's pick-only lists, in order; the item index is what
// the printer receives.
inline constexpr std::array<const char *, 7> kPrinterBaudRateItems = {
    "4800", "9600", "19200", "38400", "57600", "115200", "1200"};
inline constexpr std::array<const char *, 3> kPrinterParityItems = {"NONE", "ODD", "EVEN"};
inline constexpr std::array<const char *, 3> kFontItems = {"FONT-A", "FONT-B", "FONT-C"};
inline constexpr std::array<const char *, 2> kDensityItems = {"Normal", "Dark"};
inline constexpr std::array<const char *, 2> kCharsPerLineItems = {"48", "40"};

// What the Base tab's controls hold; the initial values are the window's
// defaults.
struct BaseSettings {
  int baudRateIndex = 2;          // cbbCPBR, "19200"
  bool cutter = true;             // chkCutter
  bool buzzer = true;             // chkBuzzer
  bool drawer = true;             // chkDrawer
  int charsPerLineIndex = 0;      // cbbCHS, "48"
  int densityIndex = 0;           // cbbDesity, "Normal"
  int codePageIndex = 0;          // cbbCodePage: a row of kCodePages, "CHINESE"
  int parityIndex = 0;            // cbbCPPARITY, "NONE"
  int fontIndex = 0;              // cbbFont, "FONT-A"
  bool reprint = false;           // chkRePrint
  bool buzzAfterPrinting = false; // chkBAP
};

// "SET" on the Base tab: the three sequences, in sending order:
//   "Base Parameter" (11 bytes) 1F 73 baud cutter buzzer drawer chs density
//                    codepage parity font; the three device bytes are 00 when
//                    their box is checked, 01 when not;
//   "PNPA" (3 bytes) 1F 72 01|00, reprint on|off;
//   "BAP"  (3 bytes) 1F 74 01|00, buzz after printing on|off.
// An index outside its list raises EInvalidChoice. Pure; any thread.
std::vector<CommandSequence> BuildBaseSettings(const BaseSettings &settings);

// "SelfTest Paper": "SelfTest", 12 54.
CommandSequence BuildSelfTest();

} // namespace pellicar
