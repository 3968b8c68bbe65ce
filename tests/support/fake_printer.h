#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pellicar::test {

// A network printer for tests: listens on 127.0.0.1, accepts any number of
// connections and records every byte it receives. It runs on a thread of
// its own, so that the test's main thread can run the event loop of the
// component under test. All members may be called from any thread.
//
// Connections are numbered 0, 1, ... in the order they were accepted;
// `connection` -1 means the latest one. The commands (pause, send, close,
// ...) have taken effect when they return.
class FakePrinter {
public:
  struct Options {
    // 0: any free port.
    quint16 port = 0;
    // SO_RCVBUF of the accepted connections; 0 leaves the system's default.
    // The kernel doubles the value and keeps a minimum of its own.
    int receiveBuffer = 0;
  };

  // How the client's side of a connection ended, as seen when reading it.
  enum class PeerEnd { Open, Clean, Reset };

  FakePrinter();
  explicit FakePrinter(Options options);
  // Stops the thread and closes every connection.
  ~FakePrinter();

  FakePrinter(const FakePrinter &) = delete;
  FakePrinter &operator=(const FakePrinter &) = delete;

  // False when the port could not be bound (e.g. a fixed port in use).
  bool listening() const { return listener_ >= 0; }
  quint16 port() const { return port_; }

  QByteArray received() const; // of all connections, as it arrived
  QByteArray receivedOn(int connection = -1) const;
  qsizetype receivedSize() const;
  int connectionCount() const;
  PeerEnd peerEnd(int connection = -1) const;

  // Reading: stop (what arrives stays in the socket and the sender is held
  // back once the buffers are full), go on, or go on slowly: at most
  // `bytesPerRead` per connection every `intervalMs`.
  void pauseReading();
  void resumeReading();
  void readSlowly(int bytesPerRead, int intervalMs);

  // Sends bytes to the client.
  void send(const QByteArray &bytes, int connection = -1);
  // Closes cleanly: shuts the sending side down, reads on until the client
  // has closed its side, then closes.
  void close(int connection = -1);
  // Closes with a reset (SO_LINGER 0), dropping whatever is unread.
  void reset(int connection = -1);

  // Spin the calling thread's event loop until the condition holds.
  bool waitForBytes(qsizetype count, int timeoutMs = 5000) const;
  bool waitForConnections(int count, int timeoutMs = 5000) const;
  bool waitForPeerEnd(int connection = -1, int timeoutMs = 5000) const;

private:
  struct Connection {
    int fd = -1;
    QByteArray data;
    QByteArray outgoing;
    PeerEnd end = PeerEnd::Open;
    bool closing = false; // our side is shut down, waiting for theirs
  };

  void run();
  void post(std::function<void()> command);
  void accept();
  void readFrom(Connection &connection, qint64 now);
  void writeTo(Connection &connection);
  void finish(Connection &connection);
  int index(int connection) const; // lock held

  int listener_ = -1;
  int wake_ = -1;
  quint16 port_ = 0;
  int receiveBuffer_ = 0;

  mutable std::mutex lock_;
  bool stop_ = false;
  bool paused_ = false;
  int slowBytes_ = 0;
  int slowIntervalMs_ = 0;
  std::vector<std::function<void()>> commands_;
  quint64 posted_ = 0;
  quint64 executed_ = 0;
  std::condition_variable executedChanged_;
  std::vector<std::unique_ptr<Connection>> connections_;
  QByteArray all_;
  std::thread thread_;
};

} // namespace pellicar::test
