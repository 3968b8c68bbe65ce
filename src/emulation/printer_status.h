#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace pellicar {

// The condition a virtual printer reports when asked with DLE EOT n.
enum class PrinterStatus { Ready, Offline, CoverOpen, PaperNearEnd, PaperOut };

// "ready", "offline", "cover-open", "paper-near-end", "paper-out".
QString PrinterStatusName(PrinterStatus status);
std::optional<PrinterStatus> ParsePrinterStatus(QStringView name);

// The byte a printer in `status` answers to DLE EOT n (n = 1..4), by the
// standard meaning of the real-time status bits. Bits 1 and 4 are always
// set, bits 0 and 7 always clear (0x12); then
//   n = 1 printer:      bit 3 offline (cover open, paper out, offline)
//   n = 2 offline cause: bit 2 cover open, bit 5 stopped by paper end
//   n = 3 error cause:  nothing in these conditions
//   n = 4 paper sensor: bits 2 and 3 near end, bits 5 and 6 out (an empty
//                       roll is also past its near end)
// A plain "offline" names no cause. 0 for an n outside 1..4.
std::uint8_t StatusAnswer(PrinterStatus status, int n);

} // namespace pellicar
