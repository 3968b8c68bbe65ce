// The command line itself: help, refusals of bad usage and bad input with
// exit status 2 and nothing sent, the --output channel, and the lists.

#include "cli/cli_process.h"
#include "commands/code_page_table.h"
#include "support/firmware_files.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellicar::test {
namespace {

QStringList Args(std::initializer_list<const char *> words) {
  QStringList list;
  for (const char *word : words)
    list << QString::fromUtf8(word);
  return list;
}

TEST(CliUsageTest, HelpForTheToolAndEachCommand) {
  const CliResult tool = RunCliProcess(Args({"--help"}));
  EXPECT_EQ(tool.exitCode, 0);
  EXPECT_TRUE(tool.outText().startsWith(QStringLiteral("Usage: pellicar-cli")))
      << tool.out.toStdString();
  EXPECT_TRUE(tool.err.isEmpty());
  for (const char *command :
       {"base", "selftest", "ip", "mac", "speed", "wifi", "blackmark", "logo", "firmware",
        "check-firmware", "list", "status", "wait-ready", "apply", "profile"}) {
    SCOPED_TRACE(command);
    const CliResult help = RunCliProcess({QString::fromLatin1(command), QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0) << ::testing::PrintToString(help);
    EXPECT_TRUE(
        help.outText().contains(
            QStringLiteral("pellicar-cli [CHANNEL] %1").arg(QLatin1String(command))) ||
        help.outText().contains(QStringLiteral("pellicar-cli %1").arg(QLatin1String(command))))
        << help.out.toStdString();
    // Help is help, also when a channel is given: nothing is sent.
    const CliResult withChannel =
        RunCliProcess({QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:1"),
                       QString::fromLatin1(command), QStringLiteral("--help")});
    EXPECT_EQ(withChannel.exitCode, 0);
    EXPECT_EQ(withChannel.out, help.out);
  }
}

struct Refusal {
  QStringList arguments;
  const char *message; // a part of what standard error must say
};

TEST(CliUsageTest, BadUsageAndBadInputExitWithTwo) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString firmware = folder.filePath(QStringLiteral("ok.bin"));
  ASSERT_FALSE(WriteValidFirmware(firmware, 256).isEmpty());

  const std::vector<Refusal> refusals = {
      {{}, "no command given"},
      {Args({"frob"}), "unknown command 'frob'"},
      {Args({"--frob", "selftest"}), "unknown option '--frob'"},
      {Args({"--tcp"}), "--tcp needs a value"},
      {Args({"--tcp", "127.0.0.1", "--queue", "q", "selftest"}), "only one channel"},
      {Args({"--output", "-", "--output", "-", "selftest"}), "only one channel"},
      {Args({"--tcp", "127.0.0.1:9100x", "selftest"}), "'9100x' is not a valid integer value."},
      {Args({"--tcp", "127.0.0.1:", "selftest"}), "'' is not a valid integer value."},
      {Args({"--tcp", "127.0.0.1:0", "selftest"}), "port 0 is not between 1 and 65535"},
      {Args({"--tcp", "127.0.0.1:65536", "selftest"}), "port 65536 is not between 1 and 65535"},
      {Args({"--tcp", ":9100", "selftest"}), "is not HOST[:PORT]"},
      {Args({"--tcp", "::1", "selftest"}), "is not HOST[:PORT]"},
      {Args({"--queue", "", "selftest"}), "--queue needs a non-empty value"},
      {Args({"--baud", "9600", "selftest"}), "--baud before the command goes with --serial"},
      {Args({"--serial", "/dev/null", "--baud", "2400", "selftest"}),
       "--baud: '2400' is not one of"},
      {Args({"--serial", "/dev/null", "--parity", "mark", "selftest"}), "--parity: 'mark'"},
      {Args({"--timeout", "0", "selftest"}), "--timeout: '0'"},
      {Args({"--timeout", "-3", "selftest"}), "--timeout: '-3'"},
      {Args({"--timeout", "soon", "selftest"}), "--timeout: 'soon'"},
      {Args({"--timeout", "inf", "selftest"}), "--timeout: 'inf'"},
      {Args({"selftest", "now"}), "unexpected argument 'now'"},
      {Args({"base", "--baud", "2400"}), "--baud: '2400' is not one of 4800, 9600"},
      {Args({"base", "--baud"}), "--baud needs a value"},
      {Args({"base", "--codepage", "49"}), "no row 49"},
      {Args({"base", "--codepage", "klingon"}), "no code page is named 'klingon'"},
      {Args({"base", "--codepage", "-1"}), "no code page is named '-1'"},
      {Args({"base", "--buzzer", "yes"}), "--buzzer: 'yes' is not one of off, on"},
      {Args({"base", "--font", "d"}), "--font: 'd'"},
      {Args({"base", "--chars", "42"}), "--chars: '42'"},
      {Args({"base", "--speed", "auto"}), "unknown option '--speed'"},
      {Args({"ip"}), "ip needs an address"},
      {Args({"ip", "192.168.1"}), "is not of the form A.B.C.D"},
      {Args({"ip", "192.168.1.87", "1"}), "unexpected argument '1'"},
      {Args({"ip", "192.168.1.87mm"}), "'87mm' is not a valid integer value."},
      {Args({"mac", "0.100.101.102.103.104"}), "is not of the form M1.M2.M3.M4.M5"},
      {Args({"mac", "100.101.102.103.0x"}), "'0x' is not a valid integer value."},
      {Args({"speed", "1000-full"}), "speed: '1000-full' is not one of auto"},
      {Args({"speed"}), "speed needs a speed"},
      {Args({"wifi"}), "wifi needs --ssid"},
      {Args({"wifi", "--ssid"}), "--ssid needs a value"},
      {Args({"wifi", "--ssid", "S", "--wpa"}), "--wpa needs a value"},
      {Args({"wifi", "--ssid", "S", "--wpa", "k", "--wep-open", "k"}), "cannot both be given"},
      {Args({"wifi", "--ssid", "S", "--cipher", "aes"}), "--cipher goes with --wpa or --wpa2"},
      {Args({"wifi", "--ssid", "S", "--wep-share", "k", "--cipher", "tkip"}), "--cipher goes with"},
      {Args({"wifi", "--ssid", "S", "--wpa", "k", "--cipher", "des"}), "--cipher: 'des'"},
      {Args({"wifi", "--ssid", "S", "--psk", "k"}), "unknown option '--psk'"},
      {Args({"blackmark"}), "blackmark needs an action"},
      {Args({"blackmark", "park"}), "unknown action 'park'"},
      {Args({"blackmark", "pitch"}), "blackmark needs pitch MM"},
      {Args({"blackmark", "pitch", "25mm"}), "'25mm' is not a valid integer value."},
      {Args({"blackmark", "enable", "now"}), "unexpected argument 'now'"},
      {Args({"firmware"}), "firmware needs a firmware file"},
      {Args({"list"}), "list needs printers, ports or codepages"},
      {Args({"list", "queues"}), "list: 'queues' is not one of printers, ports, codepages"},
      {Args({"--tcp", "127.0.0.1", "list", "codepages"}), "'list' sends nothing"},
      {{QStringLiteral("--queue"), QStringLiteral("q"), QStringLiteral("check-firmware"), firmware},
       "'check-firmware' sends nothing"},
      // The window refuses the serial port for the long transfers.
      {{QStringLiteral("--serial"), QStringLiteral("/dev/null"), QStringLiteral("firmware"),
        firmware},
       "Can not Use COM Port !"},
  };
  for (const Refusal &r : refusals) {
    SCOPED_TRACE(r.arguments.join(QLatin1Char(' ')).toStdString());
    const CliResult result = RunCliProcess(r.arguments);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
    EXPECT_TRUE(result.errText().contains(QString::fromUtf8(r.message)))
        << result.err.toStdString();
    EXPECT_TRUE(result.errText().contains(QStringLiteral("Try 'pellicar-cli")) ||
                result.errText().contains(QStringLiteral("valid integer value")))
        << "a usage error points to the help: " << result.err.toStdString();
  }
}

TEST(CliUsageTest, ArgumentThatIsNotUtf8IsRefused) {
  // "\xFF" would reach an SSID as EF BF BD: the tool refuses it instead.
  const CliResult result =
      RunCliShell(QStringLiteral(R"sh("$CLI" wifi --ssid "$(printf '\377')")sh"));
  EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
  EXPECT_TRUE(result.out.isEmpty());
  EXPECT_TRUE(result.errText().contains(QStringLiteral("argument 3 is not valid UTF-8 text")))
      << result.err.toStdString();
}

TEST(CliUsageTest, OutputAppendsTheRawBytes) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString path = folder.filePath(QStringLiteral("bytes.bin"));
  for (const QStringList &command :
       {Args({"selftest"}), Args({"base", "--reprint", "on"}), Args({"blackmark", "next-cut"})}) {
    const CliResult result = RunCliProcess(QStringList{QStringLiteral("--output"), path} + command);
    ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.out.isEmpty());
  }
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().toHex(' ').toUpper().toStdString(),
            "12 54 1F 73 02 00 00 00 00 00 FF 00 00 1F 72 01 1F 74 00 1D 56 00");
}

TEST(CliUsageTest, OutputDashIsStandardOutput) {
  const CliResult result = RunCliProcess(Args({"--output", "-", "mac", "$FF.0.1.2.3"}));
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  EXPECT_EQ(result.out, QByteArray::fromHex("1F6D00FF00010203"));
}

TEST(CliUsageTest, RefusedInputWritesNothing) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString path = folder.filePath(QStringLiteral("bytes.bin"));
  for (const QStringList &command :
       {Args({"blackmark", "pitch", "2.5"}), Args({"ip", "192.168.abc.1"}),
        Args({"wifi", "--ssid", QString(256, u'a').toUtf8().constData()}),
        Args({"firmware", "/nonexistent/printer.bin"})}) {
    SCOPED_TRACE(command.join(QLatin1Char(' ')).left(60).toStdString());
    const CliResult result = RunCliProcess(QStringList{QStringLiteral("--output"), path} + command);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(result);
    EXPECT_FALSE(QFileInfo::exists(path));
  }
}

TEST(CliUsageTest, OutputThatCannotBeWrittenExitsWithOne) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  // A folder cannot be opened as a file; a file in a missing folder neither.
  for (const QString &path :
       {folder.path(), folder.filePath(QStringLiteral("missing/bytes.bin"))}) {
    const CliResult result =
        RunCliProcess({QStringLiteral("--output"), path, QStringLiteral("selftest")});
    EXPECT_EQ(result.exitCode, 1) << ::testing::PrintToString(result);
    EXPECT_TRUE(result.errText().contains(path + QStringLiteral(": cannot be opened for writing")))
        << result.err.toStdString();
  }
  // Standard output that is full.
  const CliResult full = RunCliShell(QStringLiteral(R"("$CLI" --output - selftest > /dev/full)"));
  EXPECT_EQ(full.exitCode, 1) << ::testing::PrintToString(full);
  EXPECT_TRUE(full.errText().contains(QStringLiteral("Writing to standard output failed")));
}

TEST(CliUsageTest, ListCodePages) {
  const CliResult result = RunCliProcess(Args({"list", "codepages"}));
  ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  const QStringList lines = result.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), kCodePageCount);
  EXPECT_EQ(lines[0], QStringLiteral("0\tCHINESE\t255"));
  EXPECT_EQ(lines[5], QStringLiteral("5\tCP437 [U.S.A., Standard Europe]\t0"));
  EXPECT_EQ(lines[20], QString::fromUtf8("20\tCP858 Multilingual Latin \xE2\x85\xA0+Euro)\t19"));
  EXPECT_EQ(lines[48], QStringLiteral("48\tCp874\t47"));
}

TEST(CliUsageTest, ListPortsNamesDevices) {
  const CliResult result = RunCliProcess(Args({"list", "ports"}));
  EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  for (const QString &line : result.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    EXPECT_TRUE(line.startsWith(QStringLiteral("/dev/"))) << line.toStdString();
}

} // namespace
} // namespace pellicar::test
