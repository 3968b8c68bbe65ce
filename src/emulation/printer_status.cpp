#include "emulation/printer_status.h"

#include "commands/status_answers.h"

#include <array>

namespace pellicar {

namespace {

// The answers' bits are those the read-back decodes (commands/).
constexpr std::uint8_t kFixedBits = kStatusFixedBits;
constexpr std::uint8_t kOffline = kStatus1Offline;
constexpr std::uint8_t kCoverOpen = kStatus2CoverOpen;
constexpr std::uint8_t kStoppedByPaperEnd = kStatus2StoppedByPaperEnd;
constexpr std::uint8_t kPaperNearEnd = kStatus4PaperNearEnd;
constexpr std::uint8_t kPaperEnd = kStatus4PaperEnd;

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
