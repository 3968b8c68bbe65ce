#pragma once

#include "platform/exceptions.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace pellicar {

// The conversion error of a numeric edit field. Its message names the text as
// it stood in the field, blanks included: "'25mm' is not a valid integer
// value" (the top-level handler adds the full stop).
class EConvertError : public Exception {
public:
  explicit EConvertError(const QString &text);

  // The field's text that failed to convert.
  const QString &text() const noexcept { return text_; }

private:
  QString text_;
};

// The rule by which the text of every numeric edit field becomes a signed
// 32-bit integer:
//   - leading blanks (U+0020) are skipped;
//   - one "+" or "-" may follow;
//   - a "$", "x", "X", "0x" or "0X" prefix selects one to eight hexadecimal
//     digits (either letter case), read as a 32-bit pattern ("$FFFFFFFF" is
//     -1); a "-" before the prefix negates the pattern modulo 2^32;
//   - otherwise the digits are decimal (ASCII 0-9 only) and the signed value
//     must lie in -2147483648..2147483647; leading zeros are allowed;
//   - the digits must run to the end of the text.
// An empty text, a prefix without digits, a trailing blank or any other
// character is refused. Pure; any thread.
std::optional<std::int32_t> ParseIntegerField(const QString &text) noexcept;

// The same rule; a refused text raises EConvertError naming it.
std::int32_t ConvertIntegerField(const QString &text);

} // namespace pellicar
