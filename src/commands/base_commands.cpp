#include "commands/base_commands.h"

#include "commands/code_page_table.h"
#include "commands/list_choice.h"

namespace pellicar {

namespace {

// The device bytes say "not used": a checked box sends 00.
char DeviceByte(bool used) { return used ? '\x00' : '\x01'; }

char SwitchByte(bool on) { return on ? '\x01' : '\x00'; }

} // namespace

std::vector<CommandSequence> BuildBaseSettings(const BaseSettings &settings) {
  QByteArray base(11, '\0');
  base[0] = '\x1F';
  base[1] = '\x73';
  base[2] = char(CheckedChoice("Baudrate", settings.baudRateIndex, kPrinterBaudRateItems.size()));
  base[3] = DeviceByte(settings.cutter);
  base[4] = DeviceByte(settings.buzzer);
  base[5] = DeviceByte(settings.drawer);
  base[6] = char(CheckedChoice("CHS/Line", settings.charsPerLineIndex, kCharsPerLineItems.size()));
  base[7] = char(CheckedChoice("Density", settings.densityIndex, kDensityItems.size()));
  base[8] =
      char(kCodePages[CheckedChoice("CodePage", settings.codePageIndex, kCodePages.size())].number);
  base[9] = char(CheckedChoice("Parity", settings.parityIndex, kPrinterParityItems.size()));
  base[10] = char(CheckedChoice("Character", settings.fontIndex, kFontItems.size()));

  QByteArray reprint("\x1F\x72\x00", 3);
  reprint[2] = SwitchByte(settings.reprint);
  QByteArray buzzAfter("\x1F\x74\x00", 3);
  buzzAfter[2] = SwitchByte(settings.buzzAfterPrinting);

  return {{QStringLiteral("Base Parameter"), base},
          {QStringLiteral("PNPA"), reprint},
          {QStringLiteral("BAP"), buzzAfter}};
}

CommandSequence BuildSelfTest() { return {QStringLiteral("SelfTest"), QByteArray("\x12\x54", 2)}; }

} // namespace pellicar
