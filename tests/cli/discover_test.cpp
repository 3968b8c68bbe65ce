// pellicar-cli discover end to end: virtual printers each on their own
// loopback address at one port, beside a port that accepts and stays
// silent and one that answers with wrong bits; the queues of a private
// print server; and, in a network namespace of the test's own, a /24 most
// of whose addresses never answer.

#include "cli/cli_process.h"
#include "support/printer_process.h"
#include "support/private_cups.h"
#include "support/wait.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace pellicar::test {
namespace {

// A listening socket on `address`:`port`; the kernel accepts connections
// to it whether or not anyone takes them.
int Listen(const char *address, quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &at.sin_addr);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Answers every byte it is sent with FF: no answer has bits 0 and 7 set.
struct WrongAnswerer {
  explicit WrongAnswerer(int listener) : fd(listener) {
    thread = std::thread([this] {
      const int connection = ::accept(fd, nullptr, nullptr);
      char byte;
      while (connection >= 0 && ::recv(connection, &byte, 1, 0) == 1)
        ::send(connection, "\xFF", 1, MSG_NOSIGNAL);
      if (connection >= 0)
        ::close(connection);
    });
  }
  ~WrongAnswerer() {
    ::shutdown(fd, SHUT_RDWR);
    thread.join();
    ::close(fd);
  }
  int fd;
  std::thread thread;
};

QJsonObject Json(const CliResult &result) { return QJsonDocument::fromJson(result.out).object(); }

TEST(Discover, FindsPrintersByTheirAnswerAndWritesTheInventory) {
  PrinterProcess ready;
  ASSERT_TRUE(ready.Start()) << ready.Message().toStdString();
  const quint16 port = ready.Port();
  QProcess paperOut;
  ASSERT_TRUE(StartQuietPrinterAt(paperOut, QStringLiteral("127.0.0.3"), port,
                                  QStringLiteral("paper-out")));
  const int silent = Listen("127.0.0.4", port);
  ASSERT_GE(silent, 0);
  const int wrongListener = Listen("127.0.0.6", port);
  ASSERT_GE(wrongListener, 0);
  WrongAnswerer wrong(wrongListener);
  QTemporaryDir folder;
  const QString inventory = folder.filePath(QStringLiteral("printers.csv"));

  const CliResult result = RunCliProcess(
      {QStringLiteral("discover"), QStringLiteral("127.0.0.1-127.0.0.8"), QStringLiteral("--port"),
       QString::number(port), QStringLiteral("--json"), QStringLiteral("--inventory"), inventory});
  ::close(silent);
  paperOut.terminate();
  paperOut.waitForFinished(5000);

  ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  const QJsonArray network = Json(result).value(QStringLiteral("network")).toArray();
  ASSERT_EQ(network.size(), 4) << result.out.toStdString();
  const struct {
    const char *address;
    bool printer;
    const char *paper; // the status's "paper", or nullptr for no status
  } expected[] = {{"127.0.0.1", true, "ok"},
                  {"127.0.0.3", true, "out"},
                  {"127.0.0.4", false, nullptr},
                  {"127.0.0.6", false, nullptr}};
  for (int i = 0; i < 4; ++i) {
    const QJsonObject entry = network[i].toObject();
    SCOPED_TRACE(expected[i].address);
    EXPECT_EQ(entry.value(QStringLiteral("address")).toString(),
              QLatin1String(expected[i].address));
    EXPECT_EQ(entry.value(QStringLiteral("port")).toInt(), port);
    EXPECT_EQ(entry.value(QStringLiteral("printer")).toBool(), expected[i].printer);
    if (expected[i].paper)
      EXPECT_EQ(entry.value(QStringLiteral("status")).toObject().value(QStringLiteral("paper")),
                QLatin1String(expected[i].paper));
    else
      EXPECT_TRUE(entry.value(QStringLiteral("status")).isNull());
  }
  EXPECT_EQ(network[2].toObject().value(QStringLiteral("note")).toString(),
            QStringLiteral("open port, no printer answer"));

  QFile csv(inventory);
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll(),
            QStringLiteral("target\ntcp:127.0.0.1:%1\ntcp:127.0.0.3:%1\n").arg(port).toUtf8());

  // The table says the same, one line per address that accepted.
  const CliResult table = RunCliProcess({QStringLiteral("discover"), QStringLiteral("127.0.0.1/32"),
                                         QStringLiteral("--port"), QString::number(port)});
  EXPECT_TRUE(table.outText().contains(
      QRegularExpression(QStringLiteral("\n  127\\.0\\.0\\.1 +%1 +yes +Ready\n").arg(port))))
      << table.out.toStdString();
}

TEST(Discover, ListsPrintQueuesWithDeviceAndState) {
  PrivateCups cups;
  const PrivateCups::Status status = cups.Start();
  if (status == PrivateCups::Status::Unavailable)
    GTEST_SKIP() << cups.Message().toStdString();
  ASSERT_EQ(status, PrivateCups::Status::Running) << cups.Message().toStdString();
  ASSERT_TRUE(cups.AddRawQueue(QStringLiteral("receipt")));
  ASSERT_TRUE(cups.AddRawQueue(QStringLiteral("closed")));
  ASSERT_TRUE(cups.SetAccepting(QStringLiteral("closed"), false));

  const CliResult result = RunCliProcess({QStringLiteral("discover"), QStringLiteral("--json")});
  ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  QStringList seen;
  for (const QJsonValue &value : Json(result).value(QStringLiteral("queues")).toArray()) {
    const QJsonObject queue = value.toObject();
    seen << QStringLiteral("%1 %2 %3 %4")
                .arg(queue.value(QStringLiteral("name")).toString(),
                     queue.value(QStringLiteral("state")).toString(),
                     queue.value(QStringLiteral("accepting_jobs")).toBool() ? "accepting" : "not",
                     queue.value(QStringLiteral("device_uri")).toString().section(u'/', 0, 2));
  }
  const QString device = QStringLiteral("socket://127.0.0.1:%1").arg(cups.Sink().Port());
  EXPECT_EQ(seen, QStringList({QStringLiteral("closed idle not ") + device,
                               QStringLiteral("receipt idle accepting ") + device}));
}

// In a private network namespace, packets to 127.0.1.1-127.0.1.200 are
// dropped: those hosts never answer, as absent ones on a real network.
// A printer at 127.0.1.201 must still be found, and the /24 scanned within
// 3 s.
TEST(Discover, ASlash24OfSilentHostsTakesAtMostThreeSeconds) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "a network namespace with packet filtering needs root";
  CliOptions options;
  options.environment.insert(QStringLiteral("PRINTER"), PrinterProcess::ProgramPath());
  const CliResult result = RunCliShell(QStringLiteral(R"sh(
set -e
exec unshare -n sh -ec '
ip link set lo up
nft -f - <<RULES
table ip silent {
  chain out {
    type filter hook output priority 0; policy accept;
    ip daddr 127.0.1.1-127.0.1.200 drop
  }
}
RULES
log=$(mktemp)
"$PRINTER" --tcp 127.0.1.201:9100 --quiet >"$log" &
printer=$!
for i in $(seq 200); do grep -q Listening "$log" && break; sleep 0.05; done
start=$(date +%s%N)
status=0
"$CLI" discover 127.0.1.0/24 --json || status=$?
echo "wall_ms $(( ($(date +%s%N) - start) / 1000000 ))" >&2
kill $printer; rm -f "$log"
exit $status'
)sh"),
                                       options);
  ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result);
  const QJsonObject json = Json(result);
  const QJsonArray network = json.value(QStringLiteral("network")).toArray();
  ASSERT_EQ(network.size(), 1) << result.out.toStdString();
  EXPECT_EQ(network[0].toObject().value(QStringLiteral("address")).toString(),
            QStringLiteral("127.0.1.201"));
  EXPECT_TRUE(network[0].toObject().value(QStringLiteral("printer")).toBool());
  const QJsonObject scan = json.value(QStringLiteral("scan")).toObject();
  EXPECT_EQ(scan.value(QStringLiteral("scanned")).toInt(), 254);
  const int wallMs = result.errText().section(QStringLiteral("wall_ms "), 1).toInt();
  std::cout << "/24 with 200 silent hosts: scan "
            << scan.value(QStringLiteral("seconds")).toDouble() << " s, process " << wallMs
            << " ms\n";
  EXPECT_GT(wallMs, 0);
  EXPECT_LE(wallMs, 3000);
}

} // namespace
} // namespace pellicar::test
