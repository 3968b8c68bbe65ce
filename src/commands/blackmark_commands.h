#pragma once

#include "commands/command_sequence.h"

#include <QString>

namespace pellicar {

// The four distance fields of the black-mark tab, in millimetres.
enum class BlackMarkDistance {
  Pitch,      // edtBMLength:  "Set BM Length",  1F 1B 1F 81 04 05 06 dH dL
  Width,      // edtBMWidth:   "Set BM Width",   1F 1B 1F 82 04 05 06 dH dL
  PrintAfter, // edtBMStartAt: "Set BM Postion", 1D 28 46 04 00 01 00 dL dH
  CutAfter,   // edtBMCutAt:   "Set BM Cut",     1D 28 46 04 00 02 00 dL dH
};

// "ENABLE": "Enable BM", 1F 1B 1F 80 04 05 06 44.
CommandSequence BuildEnableBlackMark();

// "DISABLE": "Disable BM", 1F 1B 1F 80 04 05 06 66.
CommandSequence BuildDisableBlackMark();

// "SET" beside a distance field. The field's text is converted by the
// integer-field rule (EConvertError if it does not convert) to n mm; the
// distance d = 8 * n dots wraps in 32 bits; dH is d / 256 rounded toward
// zero and dL is d, each reduced to its low 8 bits. Nothing is range
// checked: 8192 sends 00 00, -1 sends dH 00, dL F8. Pure; any thread.
CommandSequence BuildBlackMarkDistance(BlackMarkDistance field, const QString &millimetres);

// "NEXT BM": "Set Next BM", "HELLO WORLD!" LF FF (14 bytes): prints the
// test line and feeds to the next mark.
CommandSequence BuildNextBlackMark();

// "NEXT CUT": "Set Next Cut", 1D 56 00 (full cut).
CommandSequence BuildNextCut();

} // namespace pellicar
