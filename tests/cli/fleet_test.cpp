// apply PROFILE --targets FILE end to end: the built tool against several
// pellicar-printer processes, each on its own 127.0.0.x address; targets
// files that must be refused before anything is sent; Ctrl-C in the
// middle of a run.

#include "cli/cli_process.h"
#include "support/bmp_writer.h"
#include "support/printer_process.h"
#include "support/private_cups.h"
#include "support/wait.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

#include <gtest/gtest.h>

namespace pellicar::test {
namespace {

// Every section, a logo included; the IP and MAC come from the targets file.
const char kProfile[] = R"({"pellicarProfile": 1, "name": "counters",
  "base": {"baudRate": 9600, "parity": "none", "cutter": true, "buzzer": false, "drawer": true,
           "charsPerLine": 48, "density": "dark", "codePage": 0, "font": "B", "reprint": false,
           "buzzAfterPrinting": true},
  "ethernet": {"ip": "127.0.0.250", "mac": "00:64:65:66:67:68", "speed": "100M Full Duplex"},
  "wifi": {"ssid": "Shop", "security": "wpa2-psk", "cipher": "aes", "key": "secretkey1"},
  "blackMark": {"enabled": true, "pitchMm": 100, "widthMm": 4, "printOffsetMm": 2,
                "cutOffsetMm": 3},
  "logos": [{"file": "logo.bmp", "name": "shop"}]})";

std::string Show(const CliResult &r) { return (r.outText() + r.errText()).toStdString(); }

class FleetTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    QImage logo(16, 8, QImage::Format_RGB32);
    logo.fill(Qt::black);
    SaveFile(folder_.path(), QStringLiteral("logo.bmp"), WriteBmp(logo, {}));
    profile_ = SaveFile(folder_.path(), QStringLiteral("shop.json"), kProfile);
  }

  // Printers on 127.0.0.`first`, `first`+1, ... (port chosen by each).
  void StartPrinters(int count, int first, const QStringList &extra = {}) {
    for (int i = 0; i < count; ++i) {
      printers_.push_back(std::make_unique<PrinterProcess>());
      ASSERT_TRUE(printers_.back()->Start(
          QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.%1:0").arg(first + i)} +
          extra))
          << printers_.back()->Message().toStdString();
    }
  }
  QString Target(size_t i, int first) const {
    return QStringLiteral("tcp:127.0.0.%1:%2").arg(first + int(i)).arg(printers_[i]->Port());
  }
  QString Targets(const QByteArray &csv) {
    return SaveFile(folder_.path(), QStringLiteral("targets.csv"), csv);
  }

  QTemporaryDir folder_;
  QString profile_;
  std::vector<std::unique_ptr<PrinterProcess>> printers_;
};

// Refused before anything is sent, with the file's line and the reason.
TEST_F(FleetTest, BadTargetsFilesAreRefusedBeforeSending) {
  StartPrinters(1, 40);
  const QByteArray good = Target(0, 40).toUtf8();
  const struct {
    QByteArray csv;
    const char *message;
  } cases[] = {
      {"address\n" + good + "\n", "targets.csv:1: the header row has no 'target' column"},
      {"target\nhttp://x\n", "targets.csv:2: 'http://x' is not one of tcp:HOST[:PORT]"},
      {"target\ntcp:127.0.0.40:0\n", "the port '0' is not from 1 to 65535"},
      {"target\n" + good + "\n" + good + "\n", "targets.csv:3: " + good + " is named on line 2"},
      {"target,ethernet.ip\n" + good + "\n", "targets.csv:2: 1 fields, but the header row has 2"},
      {"target,wifi.ssid\n" + good + ",\"open\n", "targets.csv:2: a double quote that is never"},
      {"target,ethernet.ipp\n" + good + ",127.0.0.3\n", "the column 'ethernet.ipp' is no profile"},
      {"target,ethernet.ip\n" + good + ",127.0.0.300\n", "targets.csv:2: ethernet.ip: "},
      {"target,ethernet.mac\n" + good + ",\ntcp:127.0.0.41,\n",
       "targets.csv:3: ethernet.ip 127.0.0.250 is given to the printer on line 2 as well"},
      {"target\nserial:/dev/null\n", "targets.csv:2: Can not Use COM Port ! serial:/dev/null"},
  };
  for (const auto &c : cases) {
    const CliResult result = RunCliProcess(
        {QStringLiteral("apply"), profile_, QStringLiteral("--targets"), Targets(c.csv)});
    EXPECT_EQ(result.exitCode, 2) << c.csv.constData() << Show(result);
    EXPECT_TRUE(result.errText().contains(QString::fromUtf8(c.message)))
        << c.message << Show(result);
  }
  const CliResult channel =
      RunCliProcess({QStringLiteral("--tcp"), QStringLiteral("127.0.0.40"), QStringLiteral("apply"),
                     profile_, QStringLiteral("--targets"), Targets("target\n")});
  EXPECT_EQ(channel.exitCode, 2) << Show(channel);
  EXPECT_TRUE(printers_[0]->Log().isEmpty()) << printers_[0]->Log().join(u'\n').toStdString();
}

// An inventory as a discovery writes it (extra columns, quotes, CRLF, a
// byte-order mark); every printer gets the profile with its own overrides,
// takes its new address and answers there; an absent printer fails alone.
TEST_F(FleetTest, AppliesToEveryPrinterAndVerifiesTheNewAddress) {
  StartPrinters(3, 50, {QStringLiteral("--take-ip")});
  QByteArray csv = "\xEF\xBB\xBFtarget,status,ethernet.ip,ethernet.mac,wifi.ssid\r\n";
  for (size_t i = 0; i < 3; ++i)
    csv += QStringLiteral("%1,\"ready, idle\",127.0.1.%2,00:64:65:66:67:%2,\"Shop, till %2\"\r\n")
               .arg(Target(i, 50))
               .arg(50 + i)
               .toUtf8();
  csv += "tcp:127.0.0.1:1,none,127.0.1.99,00:64:65:66:67:99,x\r\n";
  const CliResult result = RunCliProcess(
      {QStringLiteral("apply"), profile_, QStringLiteral("--targets"), Targets(csv),
       QStringLiteral("--verify-address"), QStringLiteral("20"), QStringLiteral("--json")});
  EXPECT_EQ(result.exitCode, 1) << Show(result);
  EXPECT_TRUE(result.errText().contains(QLatin1String("1 of 4 printers failed"))) << Show(result);
  const QJsonObject report = QJsonDocument::fromJson(result.out).object();
  const QJsonArray printers = report[QStringLiteral("printers")].toArray();
  ASSERT_EQ(printers.size(), 4) << Show(result);
  for (size_t i = 0; i < 3; ++i) {
    const QJsonObject p = printers[qsizetype(i)].toObject();
    EXPECT_EQ(p[QStringLiteral("outcome")].toString(), QStringLiteral("ok")) << Show(result);
    EXPECT_EQ(p[QStringLiteral("sectionsSent")].toInt(), 7);
    EXPECT_EQ(p[QStringLiteral("address")].toString(),
              QStringLiteral("127.0.1.%1:%2").arg(50 + i).arg(printers_[i]->Port()));
    EXPECT_EQ(p[QStringLiteral("statusAfter")][QStringLiteral("online")].toString(), u"yes");
    // The state file follows the last answer by a moment.
    const auto counter = [&](const char *name) {
      return printers_[i]->State()[QStringLiteral("counters")][QLatin1String(name)].toInteger();
    };
    EXPECT_TRUE(WaitUntil([&] { return counter("statusRequests") == 8; }));
    const QJsonObject state = printers_[i]->State();
    EXPECT_EQ(state[QStringLiteral("ethernet")][QStringLiteral("mac")].toString(),
              QStringLiteral("00:64:65:66:67:%1").arg(50 + i));
    EXPECT_EQ(state[QStringLiteral("wifi")][QStringLiteral("ssid")].toString(),
              QStringLiteral("Shop, till %1").arg(50 + i));
    EXPECT_EQ(state[QStringLiteral("base")][QStringLiteral("font")].toString(), u"B");
    EXPECT_EQ(state[QStringLiteral("logos")].toArray().size(), 1);
    // Everything it took but the status requests (3 bytes each).
    EXPECT_EQ(p[QStringLiteral("bytes")].toInteger(), counter("bytesReceived") - 8 * 3);
  }
  const QJsonObject absent = printers[3].toObject();
  EXPECT_EQ(absent[QStringLiteral("outcome")].toString(), u"failed");
  EXPECT_EQ(absent[QStringLiteral("sectionsSent")].toInt(), 0);
  EXPECT_TRUE(absent[QStringLiteral("message")].toString().contains(u"nothing was sent"));
}

// Serial lines and device files are set up alike (no address to wait
// for; the MAC, which would be the same for all, and the logos, which a
// serial port does not take, left out with --only); a
// printer that keeps its old address fails the verification, with every
// section sent.
TEST_F(FleetTest, SerialDeviceAndAnAddressThatIsNotTaken) {
  StartPrinters(3, 80);
  const QByteArray csv = "target,ethernet.ip\nserial:" + printers_[0]->SerialPath().toUtf8() +
                         ",127.0.2.1\ndevice:" + printers_[1]->SerialPath().toUtf8() +
                         ",127.0.2.2\n" + Target(2, 80).toUtf8() + ",127.0.2.3\n";
  const CliResult result = RunCliProcess(
      {QStringLiteral("apply"), profile_, QStringLiteral("--targets"), Targets(csv),
       QStringLiteral("--verify-address"), QStringLiteral("1"), QStringLiteral("--only"),
       QStringLiteral("base,ip"), QStringLiteral("--json")});
  EXPECT_EQ(result.exitCode, 1) << Show(result);
  const QJsonArray printers =
      QJsonDocument::fromJson(result.out).object()[QStringLiteral("printers")].toArray();
  ASSERT_EQ(printers.size(), 3) << Show(result);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(printers[i][QStringLiteral("outcome")].toString(), u"ok") << Show(result);
    EXPECT_EQ(printers[i][QStringLiteral("statusAfter")][QStringLiteral("online")].toString(),
              u"yes");
    EXPECT_EQ(
        printers_[size_t(i)]->State()[QStringLiteral("ethernet")][QStringLiteral("ip")].toString(),
        QStringLiteral("127.0.2.%1").arg(i + 1));
  }
  const QJsonObject kept = printers[2].toObject();
  EXPECT_EQ(kept[QStringLiteral("outcome")].toString(), u"failed");
  EXPECT_EQ(kept[QStringLiteral("sectionsSent")].toInt(), 2);
  EXPECT_TRUE(kept[QStringLiteral("message")].toString().startsWith(
      QStringLiteral("no answer at the new address 127.0.2.3:%1 within 1 s")
          .arg(printers_[2]->Port())))
      << Show(result);
}

// A print queue takes the sections (one job each) but carries no answers:
// no status before or after, and that is no failure.
TEST_F(FleetTest, PrintQueueWithoutStatus) {
  // The queue's backend delivers to 127.0.0.1.
  PrinterProcess printer;
  ASSERT_TRUE(printer.Start()) << printer.Message().toStdString();
  PrivateCups cups;
  const PrivateCups::Status started = cups.Start();
  if (started == PrivateCups::Status::Unavailable)
    GTEST_SKIP() << cups.Message().toStdString();
  ASSERT_EQ(started, PrivateCups::Status::Running) << cups.Message().toStdString();
  QString error;
  ASSERT_TRUE(cups.AddRawQueue(QStringLiteral("counter"), printer.Port(), &error))
      << error.toStdString();
  const CliResult result = RunCliProcess(
      {QStringLiteral("apply"), profile_, QStringLiteral("--targets"),
       Targets("target\nqueue:counter\n"), QStringLiteral("--only"), QStringLiteral("base,ip")});
  EXPECT_EQ(result.exitCode, 0) << Show(result);
  EXPECT_TRUE(result.outText().contains(QLatin1String("2/2"))) << Show(result);
  EXPECT_TRUE(result.outText().contains(QLatin1String("no status through a print queue")));
  EXPECT_TRUE(printer.WaitForLog(4)) << printer.Log().join(u'\n').toStdString();
  EXPECT_TRUE(printer.Log().contains(u"Set IP: 127.0.0.250"));
}

// Ctrl-C: the running printers end what they do, no new one is started,
// and the report names every printer.
TEST_F(FleetTest, InterruptStartsNoNewPrinter) {
  StartPrinters(4, 60, {QStringLiteral("--read-delay"), QStringLiteral("400")});
  QByteArray csv = "target\n";
  for (size_t i = 0; i < 4; ++i)
    csv += Target(i, 60).toUtf8() + '\n';
  QProcess cli;
  cli.start(CliPath(), {QStringLiteral("apply"), profile_, QStringLiteral("--targets"),
                        Targets(csv), QStringLiteral("--only"), QStringLiteral("base"),
                        QStringLiteral("--parallel"), QStringLiteral("2")});
  ASSERT_TRUE(WaitUntil([&] { return !printers_[0]->Log().isEmpty(); }, 10000));
  ::kill(pid_t(cli.processId()), SIGINT);
  ASSERT_TRUE(WaitUntil([&] { return cli.state() == QProcess::NotRunning; }, 30000));
  const QString out = QString::fromUtf8(cli.readAllStandardOutput());
  EXPECT_EQ(cli.exitCode(), 1) << out.toStdString();
  EXPECT_EQ(out.count(QLatin1String("not started")), 2) << out.toStdString();
  EXPECT_TRUE(out.contains(QLatin1String("(interrupted)"))) << out.toStdString();
  for (size_t i = 2; i < 4; ++i)
    EXPECT_TRUE(printers_[i]->Log().isEmpty()) << i;
}

// --take-ip moves only to loopback addresses.
TEST_F(FleetTest, VirtualPrinterTakesOnlyLoopbackAddresses) {
  StartPrinters(1, 70, {QStringLiteral("--take-ip")});
  const QString where = QStringLiteral("127.0.0.70:%1").arg(printers_[0]->Port());
  const CliResult refused = RunCliProcess(
      {QStringLiteral("--tcp"), where, QStringLiteral("ip"), QStringLiteral("10.1.2.3")});
  EXPECT_EQ(refused.exitCode, 0) << Show(refused);
  EXPECT_TRUE(printers_[0]->WaitForLog(2)) << printers_[0]->Log().join(u'\n').toStdString();
  EXPECT_TRUE(printers_[0]->Log().contains(u"IP 10.1.2.3 not taken: only loopback addresses are"));
  const CliResult still = RunCliProcess({QStringLiteral("--tcp"), where, QStringLiteral("status")});
  EXPECT_EQ(still.exitCode, 0) << Show(still);
}

} // namespace
} // namespace pellicar::test
