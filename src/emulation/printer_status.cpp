#include "emulation/printer_status.h"

#include <array>

namespace pellicar {

namespace {

constexpr std::uint8_t kFixedBits = 0x12;
constexpr std::uint8_t kOffline = 0x08;
constexpr std::uint8_t kCoverOpen = 0x04;
constexpr std::uint8_t kStoppedByPaperEnd = 0x20;
constexpr std::uint8_t kPaperNearEnd = 0x0C;
constexpr std::uint8_t kPaperEnd = 0x60;

struct StatusRow {
  PrinterStatus status;
  const char *name;
  std::array<std::uint8_t, 4> bits; // n = 1..4, without the fixed bits
};

constexpr StatusRow kStatusRows[] = {
    {PrinterStatus::Ready, "ready", {0, 0, 0, 0}},
    {PrinterStatus::Offline, "offline", {kOffline, 0, 0, 0}},
    {PrinterStatus::CoverOpen, "cover-open", {kOffline, kCoverOpen, 0, 0}},
    {PrinterStatus::PaperNearEnd, "paper-near-end", {0, 0, 0, kPaperNearEnd}},
    {PrinterStatus::PaperOut,
     "paper-out",
     {kOffline, kStoppedByPaperEnd, 0, kPaperNearEnd | kPaperEnd}},
};

const StatusRow &Row(PrinterStatus status) {
  for (const StatusRow &row : kStatusRows)
    if (row.status == status)
      return row;
  return kStatusRows[0];
}

} // namespace

QString PrinterStatusName(PrinterStatus status) { return QString::fromLatin1(Row(status).name); }

std::optional<PrinterStatus> ParsePrinterStatus(QStringView name) {
  for (const StatusRow &row : kStatusRows)
    if (name == QLatin1String(row.name))
      return row.status;
  return std::nullopt;
}

std::uint8_t StatusAnswer(PrinterStatus status, int n) {
  if (n < 1 || n > 4)
    return 0;
  return std::uint8_t(kFixedBits | Row(status).bits[std::size_t(n - 1)]);
}

} // namespace pellicar
