// pellicar-cli apply and profile check, end to end: a profile that sets
// every key sent to pellicar-printer comes back whole in its state; the
// dry run is the single commands' dry runs one after the other; a bad
// profile is refused by its path before anything reaches the printer.

#include "cli/cli_process.h"
#include "support/printer_process.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar::test {
namespace {

// An 8 × 2 one-bit bitmap, embedded as the window's "Save Profile…" does.
constexpr char kTinyBmp[] = "Qk1GAAAAAAAAAD4AAAAoAAAACAAAAAIAAAABAAEAAAAAAAgAAAATCwAAEwsAAAIAAAAAAA"
                            "AAAAAAAP///wCqAAAAVQAAAA==";

// Every key a profile can set; the Wi-Fi key comes from the environment.
QJsonObject EveryKey() {
  return QJsonObject{
      {"pellicarProfile", 1},
      {"name", "Counter 7"},
      {"base", QJsonObject{{"baudRate", 1200},
                           {"parity", "odd"},
                           {"cutter", false},
                           {"buzzer", true},
                           {"drawer", false},
                           {"charsPerLine", 40},
                           {"density", "dark"},
                           {"codePage", 19},
                           {"codePageName", QString::fromUtf8("CP858 Multilingual Latin Ⅰ+Euro)")},
                           {"font", "C"},
                           {"reprint", true},
                           {"buzzAfterPrinting", true}}},
      {"ethernet", QJsonObject{{"ip", "10.1.2.254"},
                               {"mac", "00:01:02:0a:0b:ff"},
                               {"speed", "100M Half Duplex"}}},
      {"wifi", QJsonObject{{"ssid", QString::fromUtf8("Café ☕")},
                           {"security", "wpa2-psk"},
                           {"cipher", "aes"},
                           {"keyEnv", "PROFILE_TEST_KEY"}}},
      {"blackMark", QJsonObject{{"enabled", true},
                                {"pitchMm", 8191},
                                {"widthMm", 4},
                                {"printOffsetMm", 3},
                                {"cutOffsetMm", 7}}},
      {"logos", QJsonArray{QJsonObject{{"file", "logo.bmp"}},
                           QJsonObject{{"bmp", kTinyBmp}, {"name", "stripe"}}}},
      {"connection", QJsonObject{{"port", "tcp"}, {"host", "127.0.0.1"}, {"tcpPort", 9100}}},
  };
}

class CliProfileTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    ASSERT_TRUE(QFile::copy(QStringLiteral(PELLICAR_SOURCE_DIR "/docs/example-logo.bmp"),
                            folder_.filePath(QStringLiteral("logo.bmp"))));
    options_.environment.insert(QStringLiteral("PROFILE_TEST_KEY"), QStringLiteral("k3y ünï"));
  }

  QString Write(const QJsonObject &profile, const QString &name = QStringLiteral("p.json")) {
    QFile file(folder_.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(profile).toJson());
    return file.fileName();
  }

  CliResult Run(const QStringList &arguments) { return RunCliProcess(arguments, options_); }

  QTemporaryDir folder_;
  CliOptions options_;
};

TEST_F(CliProfileTest, EveryKeyRoundTripsThroughThePrinter) {
  const QJsonObject profile = EveryKey();
  const QString path = Write(profile);
  for (const char *channel : {"--tcp", "--device"}) {
    SCOPED_TRACE(channel);
    PrinterProcess printer;
    ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
    const QString target = QString::fromLatin1(channel) == QLatin1String("--tcp")
                               ? QStringLiteral("127.0.0.1:%1").arg(printer.Port())
                               : printer.SerialPath();
    const CliResult result = Run({QString::fromLatin1(channel), target, "apply", path});
    ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
    EXPECT_EQ(result.outText(), "base: sent\nblackMark: sent\nwifi: sent\nlogos: sent\n"
                                "speed: sent\nmac: sent\nip: sent\n");
    ASSERT_TRUE(printer.WaitForLog(13));
    const QJsonObject state = printer.State();
    EXPECT_EQ(state["base"].toObject(), profile["base"].toObject());
    EXPECT_EQ(state["ethernet"].toObject(), profile["ethernet"].toObject());
    QJsonObject wifi = profile["wifi"].toObject();
    wifi.remove("keyEnv");
    wifi["key"] = QString::fromUtf8("k3y ünï");
    EXPECT_EQ(state["wifi"].toObject(), wifi);
    const QJsonObject mark = state["blackMark"].toObject();
    const QJsonObject sent = profile["blackMark"].toObject();
    EXPECT_EQ(mark["enabled"], sent["enabled"]);
    for (const char *key : {"pitch", "width", "printOffset", "cutOffset"})
      EXPECT_EQ(mark[QStringLiteral("%1Dots").arg(key)].toInt(),
                8 * sent[QStringLiteral("%1Mm").arg(key)].toInt())
          << key;
    const QJsonArray logos = state["logos"].toArray();
    ASSERT_EQ(logos.size(), 2);
    EXPECT_EQ(logos[0].toObject()["widthDots"].toInt(), 320);
    EXPECT_EQ(logos[1].toObject()["widthDots"].toInt(), 8);
    EXPECT_EQ(logos[1].toObject()["heightDots"].toInt(), 8);
  }
}

TEST_F(CliProfileTest, DryRunIsTheSingleCommandsOneAfterAnother) {
  QFile::copy(folder_.filePath("logo.bmp"), folder_.filePath("copy.bmp"));
  QFile tiny(folder_.filePath("tiny.bmp"));
  ASSERT_TRUE(tiny.open(QIODevice::WriteOnly));
  tiny.write(QByteArray::fromBase64(kTinyBmp));
  tiny.close();
  const QString path = Write(EveryKey());
  const QList<QStringList> singles = {
      {"base", "--baud",   "1200", "--parity",  "odd", "--cutter",           "off",  "--buzzer",
       "on",   "--drawer", "off",  "--chars",   "40",  "--density",          "dark", "--codepage",
       "20",   "--font",   "c",    "--reprint", "on",  "--buzz-after-print", "on"},
      {"blackmark", "enable"},
      {"blackmark", "pitch", "8191"},
      {"blackmark", "width", "4"},
      {"blackmark", "print-offset", "3"},
      {"blackmark", "cut-offset", "7"},
      {"wifi", "--ssid", QString::fromUtf8("Café ☕"), "--wpa2", QString::fromUtf8("k3y ünï"),
       "--cipher", "aes"},
      {"logo", folder_.filePath("copy.bmp"), tiny.fileName()},
      {"speed", "100-half"},
      {"mac", "1.2.10.11.255"},
      {"ip", "10.1.2.254"},
  };
  QByteArray expected;
  for (const QStringList &single : singles) {
    const CliResult result = Run(single);
    ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
    expected += result.out;
  }
  const CliResult apply = Run({"apply", path});
  ASSERT_EQ(apply.exitCode, 0) << ::testing::PrintToString(apply);
  EXPECT_EQ(apply.out, expected);
  EXPECT_TRUE(apply.err.isEmpty()) << apply.err.toStdString();

  const CliResult some = Run({"apply", path, "--only", "ip,BASE"});
  EXPECT_EQ(some.out, RunCliProcess(singles[0]).out + RunCliProcess(singles[10]).out);
}

TEST_F(CliProfileTest, BadProfileIsRefusedByItsPathAndNothingIsSent) {
  struct Case {
    const char *section;
    QJsonValue value;
    const char *message;
  };
  const QJsonObject wifi = EveryKey()["wifi"].toObject();
  QJsonObject wpa3 = wifi;
  wpa3["security"] = "wpa3";
  QJsonObject unset = wifi;
  unset["keyEnv"] = "PROFILE_TEST_UNSET";
  const Case cases[] = {
      {"wifi", wpa3,
       "wifi.security: \"wpa3\" is not one of open, wpa-psk, wpa2-psk, wep-open, wep-share."},
      {"wifi", unset, "wifi.keyEnv: the environment variable PROFILE_TEST_UNSET is not set."},
      {"ethernet", QJsonObject{{"ip", "10.1.2.256"}}, "ethernet.ip: \"10.1.2.256\" is not"},
      {"base", QJsonObject{{"font", "A"}}, "base.baudRate: missing;"},
      {"blackMark", QJsonObject{{"pitchMm", 2.5}}, "blackMark.pitchMm: 2.5 is not a whole number"},
      {"logos", QJsonArray{QJsonObject{{"file", "missing.bmp"}}}, "logos.0.file: \""},
      {"logos", QJsonArray{QJsonObject{{"bmp", "QUJD"}}}, "logos.0.bmp: Picture invalid"},
  };
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
  const QString tcp = QStringLiteral("127.0.0.1:%1").arg(printer.Port());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    QJsonObject profile = EveryKey();
    profile[c.section] = c.value;
    const QString path = Write(profile);
    for (const QStringList &arguments :
         {QStringList{"profile", "check", path}, QStringList{"--tcp", tcp, "apply", path}}) {
      const CliResult result = Run(arguments);
      EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
      EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
      EXPECT_TRUE(result.errText().startsWith("pellicar-cli: " + path + ": " + c.message))
          << result.err.toStdString();
    }
  }
  // The first thing the printer heard is the self-test sent last.
  ASSERT_EQ(Run({"--tcp", tcp, "selftest"}).exitCode, 0);
  ASSERT_TRUE(printer.WaitForLog(1));
  EXPECT_EQ(printer.Log().value(0), QStringLiteral("SelfTest: printed page 1 (page-1.png)"));
}

TEST_F(CliProfileTest, AFailedSendNamesNoLaterSectionSent) {
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start({"--reset-after", "200"})) << printer.Message().toStdString();
  const CliResult result = Run(
      {"--tcp", QStringLiteral("127.0.0.1:%1").arg(printer.Port()), "apply", Write(EveryKey())});
  EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
  const QStringList lines = result.outText().split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 7) << result.out.toStdString();
  const char *names[] = {"base", "blackMark", "wifi", "logos", "speed", "mac", "ip"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_TRUE(lines[i].startsWith(QString::fromLatin1(names[i]) + ": "))
        << lines[i].toStdString();
    // 200 bytes end within the logos: none from there on was taken whole.
    if (i >= 3) {
      EXPECT_FALSE(lines[i].endsWith(": sent")) << lines[i].toStdString();
    }
  }
}

} // namespace
} // namespace pellicar::test
