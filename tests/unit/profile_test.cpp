// The profile library: what it writes it reads back the same; overrides
// land where their path says and are checked like the rest; a saved key is
// private to its owner.

#include "profile/profile.h"
#include "profile/profile_writer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar {
namespace {

QJsonObject Json(const char *text) { return QJsonDocument::fromJson(QByteArray(text)).object(); }

Profile Parse(const QJsonObject &json, const QList<ProfileOverride> &overrides = {}) {
  return ParseProfile(QJsonDocument(json).toJson(), QStringLiteral("/nonexistent"), overrides);
}

// Documents in the writer's own forms: reading and writing gives them back.
const char *const kCanonical[] = {
    R"({"pellicarProfile": 1})",
    R"({"pellicarProfile": 1, "name": "x", "base": {"baudRate": 115200, "parity": "none",
        "cutter": true, "buzzer": false, "drawer": true, "charsPerLine": 48, "density": "normal",
        "codePage": 255, "codePageName": "CHINESE", "font": "A", "reprint": false,
        "buzzAfterPrinting": false}})",
    R"({"pellicarProfile": 1, "ethernet": {"ip": "0.255.1.2", "mac": "00:ff:00:10:0a:01",
        "speed": "Auto Negotiation"}})",
    R"({"pellicarProfile": 1, "wifi": {"ssid": "", "security": "open"}})",
    R"({"pellicarProfile": 1, "wifi": {"ssid": "S", "security": "wpa-psk", "cipher": "tkip",
        "key": "k"}})",
    R"({"pellicarProfile": 1, "wifi": {"ssid": "S", "security": "wep-share", "key": ""}})",
    R"({"pellicarProfile": 1, "blackMark": {"enabled": false, "cutOffsetMm": 0}})",
    R"({"pellicarProfile": 1, "logos": [{"name": "t", "bmp": "Qk1GAAAAAAAAAD4AAAAoAAAACAAAAAIAAAABAAEAAAAAAAgAAAATCwAAEwsAAAIAAAAAAAAAAAAAAP///wCqAAAAVQAAAA=="}]})",
    R"({"pellicarProfile": 1, "connection": {"port": "serial", "serialPort": "/dev/ttyS0",
        "baudRate": 115200, "parity": "even"}})",
};

TEST(ProfileTest, WhatIsWrittenReadsBackTheSame) {
  for (const char *text : kCanonical) {
    SCOPED_TRACE(text);
    const QJsonObject json = Json(text);
    ASSERT_FALSE(json.isEmpty());
    EXPECT_EQ(ProfileToJson(Parse(json)), json);
  }
}

TEST(ProfileTest, OverridesAreTypedByTheirKeyAndChecked) {
  const QJsonObject json = Json(R"({"pellicarProfile": 1, "ethernet": {"ip": "1.2.3.4"}})");
  const Profile profile =
      Parse(json, {{"ethernet.ip", "10.0.0.9"}, {"blackMark.pitchMm", "30"}, {"name", "42"}});
  EXPECT_EQ(ProfileToJson(profile),
            Json(R"({"pellicarProfile": 1, "name": "42", "ethernet": {"ip": "10.0.0.9"},
                     "blackMark": {"pitchMm": 30}})"));

  struct Refused {
    ProfileOverride override;
    const char *message;
  };
  const Refused refused[] = {
      {{"ethernet.ip", "10.0.0.999"}, "ethernet.ip: \"10.0.0.999\" is not"},
      {{"blackMark.pitchMm", "3mm"}, "blackMark.pitchMm: \"3mm\" is not a whole number"},
      {{"blackMark.enabled", "maybe"}, "blackMark.enabled: \"maybe\" is not true or false"},
      {{"ethernet.port", "1"}, "ethernet.port: is not a key"},
  };
  for (const Refused &r : refused) {
    try {
      Parse(json, {r.override});
      ADD_FAILURE() << r.message;
    } catch (const EProfileError &e) {
      EXPECT_TRUE(e.message().startsWith(QString::fromUtf8(r.message))) << e.what();
    }
  }
}

// A state file keeps bytes that are not text as hexadecimal beside the text.
TEST(ProfileTest, HexFieldsGiveTheirTextOrAreRefused) {
  struct Case {
    const char *wifi;
    const char *ssidOrError;
  };
  const Case cases[] = {
      {R"({"ssidHex": "ef bb bf 53", "security": "open"})", "\uFEFFS"},
      {R"({"ssid": "S", "ssidHex": "53", "security": "wep-open", "keyHex": "6B:79"})", "S"},
      {R"({"ssid": "\uFFFD", "ssidHex": "ff", "security": "open"})", "wifi.ssidHex: these bytes"},
      {R"({"ssid": "T", "ssidHex": "53", "security": "open"})", "wifi.ssidHex: does not hold"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.wifi);
    QJsonObject json = Json(R"({"pellicarProfile": 1})");
    json[QStringLiteral("wifi")] = Json(c.wifi);
    try {
      EXPECT_EQ(Parse(json).wifi->settings.ssid.toUtf8(), QByteArray(c.ssidOrError));
    } catch (const EProfileError &e) {
      EXPECT_TRUE(e.message().startsWith(QString::fromUtf8(c.ssidOrError))) << e.what();
    }
  }
}

TEST(ProfileTest, ASavedKeyIsReadableByItsOwnerOnly) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("p.json"));
  struct Case {
    const char *wifi;
    bool secret;
  };
  const Case cases[] = {
      {R"({"ssid": "S", "security": "wep-open", "key": "k"})", true},
      {R"({"ssid": "S", "security": "wep-open", "keyEnv": "HOME"})", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.wifi);
    // An earlier profile at the same path, readable by all.
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    old.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    QJsonObject json = Json(R"({"pellicarProfile": 1})");
    json[QStringLiteral("wifi")] = Json(c.wifi);
    ASSERT_FALSE(WriteProfileFile(path, Parse(json)));
    EXPECT_EQ(bool(QFile(path).permissions() & (QFile::ReadGroup | QFile::ReadOther)), !c.secret);
    EXPECT_EQ(ReadProfileFile(path).wifi->keyEnv, Json(c.wifi).value("keyEnv").toString());
  }
}

} // namespace
} // namespace pellicar
