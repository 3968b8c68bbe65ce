#include "commands/integer_field.h"

namespace pellicar {

namespace {

constexpr int kMaxHexDigits = 8;
constexpr std::uint64_t kMagnitudeOfMinimum = std::uint64_t{1} << 31; // |-2147483648|

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  return -1;
}

} // namespace

EConvertError::EConvertError(const QString &text)
    : Exception(QLatin1Char('\'') + text + QStringLiteral("' is not a valid integer value")),
      text_(text) {}

std::optional<std::int32_t> ParseIntegerField(const QString &text) noexcept {
  const qsizetype size = text.size();
  const char16_t *s = reinterpret_cast<const char16_t *>(text.utf16());
  qsizetype i = 0;
  while (i < size && s[i] == u' ')
    ++i;

  bool negative = false;
  if (i < size && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }

  bool hex = false;
  if (i < size && (s[i] == u'$' || s[i] == u'x' || s[i] == u'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < size && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }

  if (i == size)
    return std::nullopt; // nothing but blanks, a sign or a prefix

  if (hex) {
    if (size - i > kMaxHexDigits)
      return std::nullopt;
    std::uint32_t pattern = 0;
    for (; i < size; ++i) {
      const int digit = HexDigitValue(s[i]);
      if (digit < 0)
        return std::nullopt;
      pattern = (pattern << 4) | std::uint32_t(digit);
    }
    // The pattern is a 32-bit word; a sign before it negates it in that word.
    if (negative)
      pattern = 0u - pattern;
    return static_cast<std::int32_t>(pattern);
  }

  std::uint64_t magnitude = 0;
  for (; i < size; ++i) {
    if (s[i] < u'0' || s[i] > u'9')
      return std::nullopt;
    magnitude = magnitude * 10 + std::uint64_t(s[i] - u'0');
    // Stop before a long run of digits can overflow the accumulator.
    if (magnitude > kMagnitudeOfMinimum)
      return std::nullopt;
  }
  if (negative)
    return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
  if (magnitude > kMagnitudeOfMinimum - 1)
    return std::nullopt;
  return static_cast<std::int32_t>(magnitude);
}

std::int32_t ConvertIntegerField(const QString &text) {
  const std::optional<std::int32_t> value = ParseIntegerField(text);
  if (!value)
    throw EConvertError(text);
  return *value;
}

} // namespace pellicar
