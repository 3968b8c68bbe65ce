// Sends a stream through TClientSocket to a reader on 127.0.0.1 and prints
// the throughput and the CPU time the sending took.
//
//   tcp_stream_bench [FILE]
//
// Without FILE a 64 MiB stream is generated in memory. The reader runs on a
// thread of its own and discards what it reads; the throughput is measured
// from the start of the stream to the reader's end of stream.

#include "channels/client_socket.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

namespace {

double cpuSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Accepts one connection and reads it to its end, then calls `done` (on
// its own thread).
class Reader {
public:
  explicit Reader(std::function<void()> done) : done_(std::move(done)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~Reader() {
    // Ends a wait for a connection that never came.
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  quint16 port() const { return port_; }
  qint64 bytes() const { return bytes_; }

private:
  void run() {
    const int fd = ::accept(listener_, nullptr, nullptr);
    static char buffer[1 << 16];
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0)
        break;
      bytes_ += n;
    }
    ::close(fd);
    done_();
  }

  int listener_ = -1;
  quint16 port_ = 0;
  std::function<void()> done_;
  std::atomic<qint64> bytes_{0};
  std::thread thread_;
};

} // namespace

int main(int argc, char **argv) {
  using namespace pellicar;
  QCoreApplication app(argc, argv);

  std::unique_ptr<QIODevice> stream;
  if (argc > 1) {
    auto file = std::make_unique<QFile>(QString::fromLocal8Bit(argv[1]));
    if (!file->open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "cannot open %s\n", argv[1]);
      return 1;
    }
    stream = std::move(file);
  } else {
    QByteArray data(64 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
      data[i] = char(i * 131 + (i >> 12));
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(data);
    buffer->open(QIODevice::ReadOnly);
    stream = std::move(buffer);
  }
  const qint64 size = stream->size();

  QEventLoop loop;
  Reader reader(
      [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
  TClientSocket client;
  QElapsedTimer wall;
  double cpuStart = 0;
  double processStart = 0;
  double cpuSent = 0;
  bool ok = true;
  QString failure;

  client.OnConnect = [&](TCustomWinSocket &socket) {
    wall.start();
    cpuStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    processStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    socket.BeginStreamSend(std::move(stream));
  };
  client.OnError = [&](TCustomWinSocket &, TErrorEvent, int &code) {
    ok = false;
    failure = QStringLiteral("socket error %1").arg(code);
    code = 0;
    loop.quit();
  };
  QObject::connect(&client.Socket(), &TCustomWinSocket::StreamFinished, [&](bool complete) {
    ok = ok && complete;
    cpuSent = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
    client.SetActive(false);
  });
  client.SetHost(QStringLiteral("127.0.0.1"));
  client.SetPort(reader.port());
  client.SetActive(true);
  loop.exec();

  const double seconds = double(wall.nsecsElapsed()) / 1e9;
  const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart;
  if (!ok || reader.bytes() != size) {
    std::fprintf(stderr, "transfer failed: %s, %lld of %lld bytes\n", qPrintable(failure),
                 static_cast<long long>(reader.bytes()), static_cast<long long>(size));
    return 1;
  }
  std::printf("sent %lld bytes in %.3f s: %.1f MiB/s\n", static_cast<long long>(size), seconds,
              double(size) / (1 << 20) / seconds);
  std::printf("CPU: sender (main thread) %.3f s, whole process with the reader %.3f s\n", cpuSent,
              process);
  return 0;
}
