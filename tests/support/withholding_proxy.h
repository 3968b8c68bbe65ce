#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pellicar::test {

// A go-between on a Unix socket in front of a print server's socket, that
// makes the server stop answering in the middle of a job: a server that
// hangs, or a network that loses the answer, at the moment a test chooses.
//
// Every connection made to it is passed on to the server, both ways, until
// a request of the armed IPP operation appears on it (the operation id is
// bytes 2-3 of the request's IPP body). From then on that connection gets
// no more answers: with Withhold::Answers the server still receives the
// request (and acts on it), with Withhold::Everything it receives nothing
// after the operation id either. The proxy fires once; later connections
// pass untouched, so that a client can reach the server again on a fresh
// connection, as it could once a real server answers again. With
// Withhold::Server the server seems to stop altogether: later connections
// are accepted and never passed on either.
//
// Runs on a thread of its own; every member may be called from any thread.
class WithholdingProxy {
public:
  enum class Withhold { Answers, Everything, Server };

  // IPP operation ids.
  static constexpr int kSendDocument = 0x0006;
  static constexpr int kReleaseJob = 0x000D;

  WithholdingProxy();
  ~WithholdingProxy();
  WithholdingProxy(const WithholdingProxy &) = delete;
  WithholdingProxy &operator=(const WithholdingProxy &) = delete;

  // Listens on `path`, passing connections on to the server's socket
  // `server`. False, with the reason in `error`, when that fails.
  bool Start(const QString &server, const QString &path, QString *error = nullptr);
  void Stop();
  QString Path() const { return path_; }

  // Fires on the next request of `operation`, on whatever connection it
  // comes.
  void Arm(int operation, Withhold what);
  // Whether the armed request was seen.
  bool Fired() const { return fired_; }

private:
  struct Pair;

  void run();
  void accept();
  // Looks at what the client sent for the armed operation; returns how many
  // of `count` bytes the server still gets.
  size_t inspect(Pair &pair, const char *data, size_t count);
  // Writes all of `data` to `fd`; false when the peer is gone or the proxy
  // is stopping.
  bool sendAll(int fd, const char *data, size_t count);

  QByteArray server_;
  QString path_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<int> armedOperation_{0};
  std::atomic<Withhold> armedWhat_{Withhold::Answers};
  std::atomic<bool> fired_{false};
  bool deaf_ = false;                        // fired with Withhold::Server; the proxy's thread only
  std::vector<std::unique_ptr<Pair>> pairs_; // the proxy's thread only
};

} // namespace pellicar::test
