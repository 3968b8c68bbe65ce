// Measures what the TCP client promises when the printer misbehaves, against
// a fake printer on 127.0.0.1:
//   1. memory held while the printer has stopped reading and commands keep
//      coming (64 KiB each, 25 MiB in all);
//   2. bytes delivered when the connection is closed while the printer
//      pauses for 2 s with 4,194,319 bytes accepted;
//   3. seconds until a connect that is never answered fails.
//
//   tcp_close_bench [--skip-connect]

#include "channels/client_socket.h"
#include "support/fake_printer.h"
#include "support/loopback_ports.h"
#include "support/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <optional>

using namespace pellicar;
using pellicar::test::FakePrinter;
using pellicar::test::RunEventLoopFor;
using pellicar::test::WaitUntil;

namespace {

qint64 residentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray &line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:"))
      return line.mid(6).trimmed().split(' ').at(0).toLongLong();
  return -1;
}

bool connectTo(TClientSocket &client, const FakePrinter &printer) {
  client.SetHost(QStringLiteral("127.0.0.1"));
  client.SetPort(printer.port());
  client.SetActive(true);
  return WaitUntil([&] { return client.Active(); }) && printer.waitForConnections(1);
}

void heldWhileStopped() {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  TClientSocket client;
  if (!connectTo(client, printer))
    return void(std::printf("memory: no connection\n"));
  printer.pauseReading();
  const QByteArray command(64 << 10, '\x1b');
  const qint64 before = residentKiB();
  qint64 accepted = 0;
  int refused = 0;
  for (int i = 0; i < 400; ++i) {
    const int n = client.Socket().SendString(command);
    if (n == command.size())
      accepted += n;
    else
      ++refused;
    RunEventLoopFor(1);
  }
  std::printf("memory: %lld bytes accepted, %d sends refused, %lld bytes held beyond the socket, "
              "resident memory grew by %lld KiB, still connected: %s\n",
              accepted, refused, qint64(client.Socket().HeldBytes()), residentKiB() - before,
              client.Active() ? "yes" : "no");
}

void closeWhilePaused() {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  TClientSocket client;
  if (!connectTo(client, printer))
    return void(std::printf("close: no connection\n"));
  printer.pauseReading();
  const qint64 total = 4194319;
  const QByteArray bytes(total, 'x');
  qint64 accepted = 0;
  for (qint64 at = 0; at < total; at += 64 << 10) {
    const QByteArray chunk = bytes.mid(at, 64 << 10);
    if (client.Socket().SendString(chunk) == chunk.size())
      accepted += chunk.size();
  }
  std::optional<qint64> undelivered;
  QObject::connect(&client.Socket(), &TCustomWinSocket::CloseFinished,
                   [&](qint64 lost) { undelivered = lost; });
  QElapsedTimer clock;
  clock.start();
  client.SetActive(false);
  RunEventLoopFor(2000);
  printer.resumeReading();
  WaitUntil([&] { return undelivered.has_value(); }, 30000);
  printer.waitForPeerEnd();
  std::printf("close: %lld of %lld bytes accepted; the printer received %lld; close ended after "
              "%.1f s reporting %lld undelivered\n",
              accepted, total, qint64(printer.receivedSize()), clock.elapsed() / 1000.0,
              undelivered.value_or(-1));
}

void connectNeverAnswered() {
  pellicar::test::UnansweringPort silent;
  TClientSocket client;
  std::optional<int> code;
  client.OnError = [&](TCustomWinSocket &, TErrorEvent kind, int &error) {
    if (kind == TErrorEvent::eeConnect)
      code = error;
    error = 0;
  };
  QElapsedTimer clock;
  clock.start();
  client.SetHost(QStringLiteral("127.0.0.1"));
  client.SetPort(silent.port());
  client.SetActive(true);
  WaitUntil([&] { return code.has_value(); }, 180000);
  std::printf("connect: error %d after %.1f s\n", code.value_or(0), clock.elapsed() / 1000.0);
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  heldWhileStopped();
  closeWhilePaused();
  if (!app.arguments().contains(QStringLiteral("--skip-connect")))
    connectNeverAnswered();
  TClientSocket::FinishClosingConnections();
  return 0;
}
