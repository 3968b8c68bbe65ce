#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace pellicar {

// One row of the printer's code-page table: the name shown in the code-page
// list and the byte the printer receives for it.
struct CodePage {
  const char *name; // UTF-8
  std::uint8_t number;

  QString displayName() const { return QString::fromUtf8(name); }
};

inline constexpr int kCodePageCount = 49;

// Row i is item i of the code-page list. Constant for the whole run.
extern const std::array<CodePage, kCodePageCount> kCodePages;

} // namespace pellicar
