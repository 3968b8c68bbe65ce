#include "commands/integer_field.h"
#include "commands/list_choice.h"
#include "support/command_cases.h"

#include <gtest/gtest.h>

namespace pellicar {
namespace {

using test::ToHex;

QString ConversionMessage(const char *text) {
  return QStringLiteral("'%1' is not a valid integer value").arg(QString::fromUtf8(text));
}

// Runs `build`, expecting the conversion error that names `text`.
template <typename F> void ExpectRefused(F build, const char *text) {
  try {
    const CommandSequence sequence = build();
    ADD_FAILURE() << "built " << ToHex(sequence.bytes);
  } catch (const EConvertError &e) {
    EXPECT_EQ(e.message(), ConversionMessage(text));
  }
}

TEST(CommandBuildersTest, FixedActions) {
  for (const test::FixedCase &c : test::kFixedCases) {
    SCOPED_TRACE(c.button);
    const CommandSequence sequence = c.build();
    EXPECT_EQ(sequence.documentName.toStdString(), c.expected.documentName);
    EXPECT_EQ(ToHex(sequence.bytes), c.expected.hex);
  }
}

TEST(CommandBuildersTest, BaseSettings) {
  for (const test::BaseCase &c : test::kBaseCases) {
    SCOPED_TRACE(c.label);
    const std::vector<CommandSequence> sequences = BuildBaseSettings(c.settings);
    ASSERT_EQ(sequences.size(), 3u);
    EXPECT_EQ(sequences[0].documentName, QStringLiteral("Base Parameter"));
    EXPECT_EQ(sequences[1].documentName, QStringLiteral("PNPA"));
    EXPECT_EQ(sequences[2].documentName, QStringLiteral("BAP"));
    for (std::size_t i = 0; i < 3; ++i)
      EXPECT_EQ(ToHex(sequences[i].bytes), c.hex[i]) << sequences[i].documentName.toStdString();
  }
}

TEST(CommandBuildersTest, BaseSettingsRefuseAnIndexOutsideItsList) {
  struct Field {
    const char *name;
    int BaseSettings::*index;
    int count;
  };
  const Field fields[] = {
      {"Baudrate", &BaseSettings::baudRateIndex, 7},
      {"CHS/Line", &BaseSettings::charsPerLineIndex, 2},
      {"Density", &BaseSettings::densityIndex, 2},
      {"CodePage", &BaseSettings::codePageIndex, 49},
      {"Parity", &BaseSettings::parityIndex, 3},
      {"Character", &BaseSettings::fontIndex, 3},
  };
  for (const Field &f : fields) {
    SCOPED_TRACE(f.name);
    for (int index : {-1, f.count}) {
      BaseSettings settings;
      settings.*f.index = index;
      EXPECT_THROW(BuildBaseSettings(settings), EInvalidChoice) << index;
    }
    BaseSettings settings;
    settings.*f.index = f.count - 1;
    EXPECT_NO_THROW(BuildBaseSettings(settings));
  }
}

TEST(CommandBuildersTest, SetIp) {
  for (const test::IpCase &c : test::kIpCases) {
    SCOPED_TRACE(c.label);
    IpAddressFields fields;
    for (std::size_t i = 0; i < 4; ++i)
      fields.texts[i] = QString::fromUtf8(c.texts[i]);
    if (c.refusedText) {
      ExpectRefused([&] { return BuildSetIp(fields); }, c.refusedText);
    } else {
      const CommandSequence sequence = BuildSetIp(fields);
      EXPECT_EQ(sequence.documentName, QStringLiteral("Set IP"));
      EXPECT_EQ(ToHex(sequence.bytes), c.hex);
    }
  }
}

TEST(CommandBuildersTest, SetIpDefaultsAreTheWindowDefaults) {
  EXPECT_EQ(ToHex(BuildSetIp({}).bytes), "1F 69 C0 A8 01 57");
  EXPECT_EQ(ToHex(BuildSetMac({}).bytes), "1F 6D 00 64 65 66 67 68");
}

TEST(CommandBuildersTest, SetMac) {
  for (const test::MacCase &c : test::kMacCases) {
    SCOPED_TRACE(c.label);
    MacAddressFields fields;
    for (std::size_t i = 0; i < 5; ++i)
      fields.texts[i] = QString::fromUtf8(c.texts[i]);
    if (c.refusedText) {
      ExpectRefused([&] { return BuildSetMac(fields); }, c.refusedText);
    } else {
      const CommandSequence sequence = BuildSetMac(fields);
      EXPECT_EQ(sequence.documentName, QStringLiteral("Set MAC"));
      EXPECT_EQ(ToHex(sequence.bytes), c.hex);
    }
  }
}

TEST(CommandBuildersTest, SetSpeed) {
  for (const test::SpeedCase &c : test::kSpeedCases) {
    SCOPED_TRACE(kLinkSpeedItems[std::size_t(c.index)]);
    const CommandSequence sequence = BuildSetSpeed(c.index);
    EXPECT_EQ(sequence.documentName, QStringLiteral("Set Speed"));
    EXPECT_EQ(ToHex(sequence.bytes), c.hex);
  }
  EXPECT_THROW(BuildSetSpeed(-1), EInvalidChoice);
  EXPECT_THROW(BuildSetSpeed(5), EInvalidChoice);
}

TEST(CommandBuildersTest, SetWifi) {
  for (const test::WifiCase &c : test::kWifiCases) {
    SCOPED_TRACE(c.label);
    if (c.tooLongField) {
      try {
        BuildSetWifi(c.settings);
        ADD_FAILURE() << "built";
      } catch (const ETextTooLong &e) {
        EXPECT_EQ(e.fieldName(), QString::fromUtf8(c.tooLongField));
        EXPECT_TRUE(e.message().startsWith(QString::fromUtf8(c.tooLongField))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("255 bytes"))) << e.what();
        EXPECT_GT(e.byteCount(), 255);
      }
    } else {
      const CommandSequence sequence = BuildSetWifi(c.settings);
      EXPECT_EQ(sequence.documentName, QStringLiteral("Set WIFI"));
      EXPECT_EQ(ToHex(sequence.bytes), c.hex);
    }
  }
}

TEST(CommandBuildersTest, SetWifiTooLongMessage) {
  WifiSettings settings;
  settings.ssid = QString(128, QChar(0xE9)); // 256 bytes in UTF-8
  try {
    BuildSetWifi(settings);
    ADD_FAILURE() << "built";
  } catch (const ETextTooLong &e) {
    EXPECT_EQ(e.message(),
              QStringLiteral("WIFI SSID is too long: 256 bytes (at most 255 bytes can be sent)."));
    EXPECT_EQ(e.byteCount(), 256);
  }
}

TEST(CommandBuildersTest, SetWifiChecksOnlyTheListsOfTheChosenSecurity) {
  WifiSettings settings;
  settings.wpaTypeIndex = 2;
  settings.cipherIndex = -1;
  settings.wepTypeIndex = 2;
  EXPECT_NO_THROW(BuildSetWifi(settings)); // open: no list is read

  settings.security = WifiSecurity::Wpa;
  EXPECT_THROW(BuildSetWifi(settings), EInvalidChoice);
  settings.wpaTypeIndex = 1;
  EXPECT_THROW(BuildSetWifi(settings), EInvalidChoice); // the cipher
  settings.cipherIndex = 1;
  EXPECT_NO_THROW(BuildSetWifi(settings)); // the WEP type is not read

  settings.security = WifiSecurity::Wep;
  EXPECT_THROW(BuildSetWifi(settings), EInvalidChoice);
}

TEST(CommandBuildersTest, BlackMarkDistances) {
  for (const test::DistanceCase &c : test::kDistanceCases) {
    SCOPED_TRACE(std::string(c.edit) + " = \"" + c.text + "\"");
    const QString text = QString::fromUtf8(c.text);
    if (c.refused) {
      ExpectRefused([&] { return BuildBlackMarkDistance(c.field, text); }, c.text);
    } else {
      const CommandSequence sequence = BuildBlackMarkDistance(c.field, text);
      EXPECT_EQ(sequence.documentName.toStdString(), c.expected.documentName);
      EXPECT_EQ(ToHex(sequence.bytes), c.expected.hex);
    }
  }
}

} // namespace
} // namespace pellicar
