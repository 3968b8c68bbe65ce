#include "commands/integer_field.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace pellicar {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct Accepted {
  const char *text; // UTF-8
  std::int32_t value;
};

const std::vector<Accepted> kAccepted = {
    {"0", 0},
    {"25", 25},
    {"-2147483648", kMin},
    {"2147483647", kMax},
    {"-2147483647", -kMax},
    {"+5", 5},
    {"+0", 0},
    {"-0", 0},
    {" 25", 25},
    {"    -7", -7},
    {"007", 7},
    {"00000000000000000000025", 25},
    {"-0000000002147483648", kMin},
    {"$FFFFFFFF", -1},
    {"$ffffffff", -1},
    {"$7FFFFFFF", kMax},
    {"$80000000", kMin},
    {"-$80000000", kMin},
    {"-$FFFFFFFF", 1},
    {"-$10", -16},
    {"+$10", 16},
    {"$10", 16},
    {"x10", 16},
    {"X10", 16},
    {"0x10", 16},
    {"0X10", 16},
    {"  0x1f", 31},
    {"$aBcD", 0xABCD},
    {"$0", 0},
    {"$00000000", 0},
    {"0x0000000F", 15},
};

const std::vector<const char *> kRefused = {
    "",
    " ",
    "+",
    "-",
    "$",
    "x",
    "X",
    "0x",
    "0X",
    "+$",
    "-0x",
    "  $",
    "2147483648",
    "+2147483648",
    "-2147483649",
    "4294967295",
    "99999999999999999999999999",
    "$100000000",
    "$000000001", // nine digits, though the value is small
    "0x123456789",
    "25 ",
    " 25 ",
    "\t25",
    "1A",
    "2.5",
    "25mm",
    "- 5",
    "+-5",
    "--5",
    "++5",
    "5-",
    "1 000",
    "1,000",
    "1e3",
    "$FG",
    "$-1",
    "0x-1",
    "$ 1",
    "0 x10",
    "00x10",
    "$0x10",
    "x$10",
    "0b101",
    "\xD9\xA2\xD9\xA5",         // Arabic-Indic digits 2 5
    "\xEF\xBC\x92\xEF\xBC\x95", // full-width digits 2 5
    "\xC2\xA0"
    "25", // no-break space before
};

TEST(IntegerFieldTest, AcceptedTexts) {
  for (const Accepted &c : kAccepted) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseIntegerField(QString::fromUtf8(c.text)), c.value);
    EXPECT_EQ(ConvertIntegerField(QString::fromUtf8(c.text)), c.value);
  }
}

TEST(IntegerFieldTest, RefusedTextsRaiseTheConversionErrorNamingTheText) {
  for (const char *utf8 : kRefused) {
    const QString text = QString::fromUtf8(utf8);
    SCOPED_TRACE(utf8);
    EXPECT_EQ(ParseIntegerField(text), std::nullopt);
    try {
      ConvertIntegerField(text);
      ADD_FAILURE() << "accepted";
    } catch (const EConvertError &e) {
      EXPECT_EQ(e.message(),
                QLatin1Char('\'') + text + QStringLiteral("' is not a valid integer value"));
      EXPECT_EQ(e.text(), text);
    }
  }
}

TEST(IntegerFieldTest, EmbeddedNulIsRefused) {
  EXPECT_EQ(ParseIntegerField(QString::fromUtf8("25\0", 3)), std::nullopt);
  EXPECT_EQ(ParseIntegerField(QString::fromUtf8("\0"
                                                "25",
                                                3)),
            std::nullopt);
}

TEST(IntegerFieldTest, ConversionErrorIsAnException) {
  EXPECT_THROW(ConvertIntegerField(QStringLiteral("25mm")), Exception);
}

// The rule written again from its description, on the UTF-8 bytes and with
// other means: string searches for the shape, library conversions for the
// value, string comparison for the decimal range.
std::optional<std::int32_t> Reference(const std::string &text) {
  std::string s = text.substr(std::min(text.find_first_not_of(' '), text.size()));
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.erase(0, 1);
  }
  std::string hexDigits;
  for (const std::string prefix : {"$", "0x", "0X", "x", "X"}) {
    if (s.rfind(prefix, 0) == 0) {
      hexDigits = s.substr(prefix.size());
      if (hexDigits.empty() || hexDigits.size() > 8 ||
          hexDigits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
      std::uint32_t pattern = std::uint32_t(std::stoul(hexDigits, nullptr, 16));
      if (negative)
        pattern = ~pattern + 1u;
      std::int32_t value;
      std::memcpy(&value, &pattern, sizeof value);
      return value;
    }
  }
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  s.erase(0, std::min(s.find_first_not_of('0'), s.size() - 1));
  const std::string limit = negative ? "2147483648" : "2147483647";
  if (s.size() > limit.size() || (s.size() == limit.size() && s > limit))
    return std::nullopt;
  const long long magnitude = std::stoll(s);
  return std::int32_t(negative ? -magnitude : magnitude);
}

TEST(IntegerFieldTest, ReferenceAgreesWithTheTables) {
  for (const Accepted &c : kAccepted)
    EXPECT_EQ(Reference(c.text), c.value) << c.text;
  for (const char *text : kRefused)
    EXPECT_EQ(Reference(text), std::nullopt) << text;
}

// Random texts built from the pieces that matter (blanks, signs, prefixes,
// digits near the limits, letters around the hexadecimal range, foreign
// characters) agree with the reference.
TEST(IntegerFieldTest, RandomTextsAgreeWithTheReference) {
  const std::vector<std::string> pieces = {
      " ",        " ",        "+",          "-",          "$",          "x",          "X",
      "0x",       "0X",       "0",          "0",          "1",          "7",          "9",
      "A",        "f",        "F",          "G",          "g",          ".",          "\t",
      "e",        "00000000", "2147483647", "2147483648", "2147483649", "4294967295", "FFFFFFFF",
      "7FFFFFFF", "80000000", "100000000",  "12345678",   "\xC3\xA9",   "\xD9\xA5"};
  const std::string decimalDigits = "0123456789";
  const std::string hexDigits = "0123456789abcdefABCDEF";
  const std::vector<std::string> signs = {"", "", "+", "-"};
  const std::vector<std::string> prefixes = {"", "", "", "$", "x", "X", "0x", "0X"};
  const std::vector<std::string> tails = {"", "", "", "", " ", "m", ".5", "G", "-"};

  const unsigned seed = 20240611;
  std::mt19937 random(seed);
  auto pick = [&](const auto &list) {
    return list[std::uniform_int_distribution<std::size_t>(0, list.size() - 1)(random)];
  };

  int mismatches = 0;
  for (int round = 0; round < 200000 && mismatches < 10; ++round) {
    std::string text;
    if (round % 3 == 0) {
      // Values around the limits of the decimal and hexadecimal ranges.
      const std::array<long long, 5> edges = {0, 2147483647LL, -2147483648LL, 4294967295LL,
                                              4294967296LL};
      const long long value =
          pick(edges) + std::uniform_int_distribution<long long>(-300, 300)(random);
      if (random() % 2 == 0) {
        text = (value > 0 && random() % 2 == 0 ? "+" : "") + std::to_string(value);
      } else {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, random() % 2 ? "%llX" : "%llx",
                      static_cast<unsigned long long>(value < 0 ? -value : value));
        text = std::string(value < 0 ? "-" : "") + pick(prefixes) + buffer;
      }
    } else if (round % 3 == 1) {
      const int count = std::uniform_int_distribution<int>(0, 6)(random);
      for (int i = 0; i < count; ++i)
        text += pick(pieces);
    } else {
      // Well-formed more often than not: blanks, sign, prefix, digits, tail.
      text.append(std::uniform_int_distribution<std::size_t>(0, 2)(random), ' ');
      text += pick(signs);
      const std::string prefix = pick(prefixes);
      text += prefix;
      const std::string &alphabet = prefix.empty() ? decimalDigits : hexDigits;
      const int digits = std::uniform_int_distribution<int>(0, prefix.empty() ? 12 : 10)(random);
      for (int i = 0; i < digits; ++i)
        text +=
            alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
      text += pick(tails);
    }
    const std::optional<std::int32_t> expected = Reference(text);
    const std::optional<std::int32_t> actual = ParseIntegerField(QString::fromUtf8(text));
    if (expected != actual) {
      ++mismatches;
      ADD_FAILURE() << "seed " << seed << ", round " << round << ": text \"" << text << "\" gives "
                    << (actual ? std::to_string(*actual) : "refused") << ", expected "
                    << (expected ? std::to_string(*expected) : "refused");
    }
  }
}

} // namespace
} // namespace pellicar
