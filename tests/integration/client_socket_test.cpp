// The TCP client against a fake printer on 127.0.0.1: real sockets, real
// back-pressure, real resets. Only name lookups that fail are faked.

#include "channels/client_socket.h"
#include "channels/socket_error.h"
#include "platform/system_error.h"
#include "platform/tcp_socket.h"
#include "support/fake_printer.h"
#include "support/loopback_ports.h"
#include "support/wait.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <map>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace pellicar;
using pellicar::test::FakePrinter;
using pellicar::test::RefusingPort;
using pellicar::test::RunEventLoopFor;
using pellicar::test::UnansweringPort;
using pellicar::test::WaitUntil;

namespace {

int OpenDescriptors() {
  return int(QDir(QStringLiteral("/proc/self/fd"))
                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                 .size());
}

// Runs the event loop for `ms` milliseconds, sleeping while nothing
// happens (processEvents with a time limit polls instead).
void IdleFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Context switches of the calling thread: each sleep that ends is one.
qint64 MainThreadWakeUps() {
  QFile status(QStringLiteral("/proc/thread-self/status"));
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  qint64 switches = 0;
  for (const QByteArray &line : status.readAll().split('\n'))
    if (line.contains("_ctxt_switches:"))
      switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
  return switches;
}

double ProcessCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

QByteArray Pattern(qsizetype size, unsigned seed = 1) {
  std::mt19937 random(seed);
  QByteArray bytes(size, Qt::Uninitialized);
  for (qsizetype i = 0; i < size; ++i)
    bytes[i] = char(random() & 0xFF);
  return bytes;
}

std::unique_ptr<QIODevice> MakeStream(const QByteArray &bytes) {
  auto buffer = std::make_unique<QBuffer>();
  buffer->setData(bytes);
  buffer->open(QIODevice::ReadOnly);
  return buffer;
}

QString MessageOf(const std::exception_ptr &error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort &) {
    return QStringLiteral("<abort>");
  } catch (const Exception &e) {
    return e.message();
  } catch (...) {
    return QStringLiteral("<other>");
  }
}

std::string KindName(TErrorEvent kind) {
  static const char *const names[] = {"general",    "send",   "receive", "connect",
                                      "disconnect", "accept", "lookup"};
  return names[int(kind)];
}

// A resolver under the test's control: names resolve to what the test
// says, or fail; answers wait until the test releases them.
class ScriptedResolver : public HostResolver {
public:
  std::map<QString, Result> answers; // unknown names fail with -2
  bool holdAnswers = false;
  std::vector<LookupId> cancelled;
  std::vector<QString> asked;

  LookupId LookupHost(const QString &host, Done done, int &) override {
    return Start(host, std::move(done));
  }
  LookupId LookupService(const QString &service, Done done, int &) override {
    return Start(QStringLiteral("service:") + service, std::move(done));
  }
  int LookupsUnderWay() const override { return int(held_.size()); }
  void Cancel(LookupId id) override {
    cancelled.push_back(id);
    held_.erase(id);
  }
  void ReleaseAll() {
    auto held = std::move(held_);
    held_.clear();
    for (auto &[id, answer] : held)
      answer();
  }
  LookupId lastId() const { return nextId_ - 1; }

private:
  LookupId Start(const QString &name, Done done) {
    asked.push_back(name);
    Result result;
    auto found = answers.find(name);
    if (found != answers.end())
      result = found->second;
    else
      result.error = -2;
    const LookupId id = nextId_++;
    if (holdAnswers)
      held_[id] = [done, result] { done(result); };
    else
      done(result);
    return id;
  }
  LookupId nextId_ = 1;
  std::map<LookupId, std::function<void()>> held_;
};

HostResolver::Result Address(quint32 address) {
  HostResolver::Result result;
  result.address = address;
  return result;
}

// Records every event of a client, and what escaped from the event loop.
struct Recorder {
  std::vector<std::string> events;
  std::vector<std::pair<TErrorEvent, int>> errors;
  std::vector<std::exception_ptr> escaped;
  std::optional<int> setCodeTo = 0; // what OnError does with the code; nullopt: leaves it
  bool activeAtConnect = false;
  int reads = 0;

  void Attach(TClientSocket &client) {
    auto note = [this](const char *name) {
      return [this, name](TCustomWinSocket &) { events.emplace_back(name); };
    };
    client.OnLookup = note("lookup");
    client.OnConnecting = note("connecting");
    client.OnConnect = [this, &client](TCustomWinSocket &) {
      activeAtConnect = client.Active();
      events.emplace_back("connect");
    };
    client.OnDisconnect = note("disconnect");
    client.OnRead = [this](TCustomWinSocket &) {
      ++reads;
      events.emplace_back("read");
    };
    client.OnWrite = note("write");
    client.OnError = [this](TCustomWinSocket &, TErrorEvent kind, int &code) {
      errors.emplace_back(kind, code);
      events.push_back("error:" + KindName(kind));
      if (setCodeTo)
        code = *setCodeTo;
    };
    client.SetExceptionHandler([this](std::exception_ptr error) { escaped.push_back(error); });
  }
  bool Saw(const std::string &name) const {
    return std::find(events.begin(), events.end(), name) != events.end();
  }
  int Count(const std::string &name) const {
    return int(std::count(events.begin(), events.end(), name));
  }
};

using Events = std::vector<std::string>;

class ClientSocketTest : public ::testing::Test {
protected:
  void SetUp() override { MakeClient(SystemHostResolver()); }

  void TearDown() override {
    client_.reset();
    TClientSocket::FinishClosingConnections();
  }

  void MakeClient(std::shared_ptr<HostResolver> resolver) {
    client_ = std::make_unique<TClientSocket>(nullptr, std::move(resolver));
    rec_ = Recorder{};
    rec_.Attach(*client_);
    connect(client_->Socket());
  }

  void connect(TClientWinSocket &socket) {
    QObject::connect(&socket, &TCustomWinSocket::StreamProgress, [this](qint64 sent, qint64 total) {
      progress_.push_back(sent);
      total_ = total;
    });
    QObject::connect(&socket, &TCustomWinSocket::StreamFinished,
                     [this](bool delivered, qint64 acknowledged, qint64 total) {
                       finished_.push_back(delivered);
                       acknowledged_ = acknowledged;
                       finishedTotal_ = total;
                     });
    QObject::connect(&socket, &TCustomWinSocket::StreamAcknowledged,
                     [this](qint64 acknowledged, qint64) { acked_.push_back(acknowledged); });
    QObject::connect(&socket, &TCustomWinSocket::Drained, [this] { ++drained_; });
    QObject::connect(&socket, &TCustomWinSocket::CloseFinished,
                     [this](qint64 undelivered, bool broken) {
                       closeFinished_.push_back(undelivered);
                       closeBroken_.push_back(broken);
                     });
  }

  void ConnectTo(const FakePrinter &printer, const QString &host = QStringLiteral("127.0.0.1")) {
    client_->SetHost(host);
    client_->SetPort(printer.port());
    client_->SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return client_->Active(); }));
    ASSERT_TRUE(printer.waitForConnections(1));
  }

  // Connected to a printer that has stopped reading, with a stream whose
  // transfer has stalled, sent after the commands `before`.
  void StallStream(FakePrinter &printer, const QByteArray &data, const QByteArray &before = {}) {
    ConnectTo(printer);
    printer.pauseReading();
    if (!before.isEmpty()) {
      ASSERT_EQ(client_->Socket().SendString(before), before.size());
    }
    ASSERT_TRUE(client_->Socket().BeginStreamSend(MakeStream(data)));
    qint64 last = -1;
    ASSERT_TRUE(WaitUntil(
        [&] {
          RunEventLoopFor(50);
          const qint64 now = progress_.empty() ? 0 : progress_.back();
          const bool still = now == last;
          last = now;
          return still;
        },
        5000));
    ASSERT_LT(last, data.size()) << "the network took the whole stream at once";
    ASSERT_TRUE(finished_.empty());
  }

  std::unique_ptr<TClientSocket> client_;
  Recorder rec_;
  std::vector<qint64> progress_;
  qint64 total_ = 0;
  std::vector<bool> finished_; // delivered, for each StreamFinished
  qint64 acknowledged_ = -1;   // of the last StreamFinished
  qint64 finishedTotal_ = 0;   // of the last StreamFinished
  std::vector<qint64> acked_;  // of each StreamAcknowledged
  int drained_ = 0;
  std::vector<qint64> closeFinished_; // undelivered, for each CloseFinished
  std::vector<bool> closeBroken_;     // broken, for each CloseFinished
};

// ---- connecting ----

class ConnectThroughLookup : public ClientSocketTest,
                             public ::testing::WithParamInterface<const char *> {};

TEST_P(ConnectThroughLookup, RaisesLookupConnectingConnectInOrder) {
  FakePrinter printer;
  client_->SetHost(QString::fromLatin1(GetParam()));
  client_->SetPort(printer.port());
  client_->SetActive(true);
  EXPECT_EQ(rec_.events, Events{"lookup"}) << "OnLookup is raised inside the call";
  EXPECT_FALSE(client_->Active());

  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("write"); }));
  EXPECT_EQ(rec_.events, (Events{"lookup", "connecting", "connect", "write"}));
  EXPECT_TRUE(rec_.activeAtConnect);
  EXPECT_TRUE(client_->Active());
  EXPECT_TRUE(printer.waitForConnections(1));
  EXPECT_EQ(printer.connectionCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ConnectThroughLookup,
                         ::testing::Values("127.0.0.1", "localhost", "LocalHost"));

TEST_F(ClientSocketTest, ConnectsToTheLow16BitsOfThePort) {
  FakePrinter printer(FakePrinter::Options{4464, 0});
  if (!printer.listening())
    GTEST_SKIP() << "port 4464 is in use";
  client_->SetHost(QStringLiteral("127.0.0.1"));
  client_->SetPort(70000);
  client_->SetActive(true);
  EXPECT_TRUE(WaitUntil([&] { return client_->Active(); }));
  EXPECT_TRUE(printer.waitForConnections(1));
}

TEST_F(ClientSocketTest, ConnectsByAddressAndByServiceThroughTheResolver) {
  FakePrinter printer;
  auto resolver = std::make_shared<ScriptedResolver>();
  HostResolver::Result service;
  service.port = printer.port();
  resolver->answers[QStringLiteral("service:pdl")] = service;
  MakeClient(resolver);
  client_->SetAddress(QStringLiteral("127.0.0.1"));
  client_->SetService(QStringLiteral("pdl"));
  client_->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return client_->Active(); }));
  EXPECT_EQ(resolver->asked, std::vector<QString>{QStringLiteral("service:pdl")});
  EXPECT_TRUE(printer.waitForConnections(1));
  EXPECT_EQ(rec_.events, (Events{"lookup", "connecting", "connect", "write"}));
}

struct ErrorCase {
  const char *name;
  std::optional<int> setCodeTo;
  const char *escaped; // nullptr: nothing raised
};

// A refused connect fails at once; one that is never answered fails when
// the connect time limit runs out, the same way.
struct ConnectCase {
  const char *name;
  bool answered;
  std::optional<int> setCodeTo;
  int code;
};

class FailedConnect : public ClientSocketTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(FailedConnect, ReportsConnectErrorAndLeavesNoSocket) {
  const ConnectCase &c = GetParam();
  rec_.setCodeTo = c.setCodeTo;
  RefusingPort refusing;
  UnansweringPort silent;
  client_->Socket().SetConnectTimeout(500);
  const int before = OpenDescriptors();
  QElapsedTimer clock;
  clock.start();
  client_->SetHost(QStringLiteral("127.0.0.1"));
  client_->SetPort(c.answered ? refusing.port() : silent.port());
  client_->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return !rec_.errors.empty(); }));
  if (!c.answered) {
    EXPECT_GE(clock.elapsed(), 450);
  }
  RunEventLoopFor(100);

  EXPECT_EQ(rec_.events, (Events{"lookup", "connecting", "error:connect"}));
  EXPECT_EQ(rec_.errors[0].second, c.code);
  EXPECT_FALSE(client_->Active());
  EXPECT_FALSE(client_->Socket().Connecting());
  EXPECT_EQ(OpenDescriptors(), before);
  if (c.setCodeTo) {
    EXPECT_TRUE(rec_.escaped.empty());
  } else {
    ASSERT_EQ(rec_.escaped.size(), 1u);
    EXPECT_EQ(MessageOf(rec_.escaped[0]),
              QStringLiteral("Asynchronous socket error %1").arg(c.code));
  }
  // A new attempt starts cleanly after the failed one.
  FakePrinter printer;
  client_->SetPort(printer.port());
  client_->SetActive(true);
  EXPECT_TRUE(WaitUntil([&] { return client_->Active(); }));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, FailedConnect,
    ::testing::Values(ConnectCase{"RefusedCleared", true, 0, ECONNREFUSED},
                      ConnectCase{"RefusedLeft", true, std::nullopt, ECONNREFUSED},
                      ConnectCase{"TimedOutCleared", false, 0, ETIMEDOUT},
                      ConnectCase{"TimedOutLeft", false, std::nullopt, ETIMEDOUT}),
    [](const auto &c) { return std::string(c.param.name); });

class NoAddress : public ClientSocketTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(NoAddress, ReportsLookupError1110ThenDisconnect) {
  rec_.setCodeTo = GetParam().setCodeTo;
  const int before = OpenDescriptors();
  if (GetParam().escaped == nullptr) {
    EXPECT_NO_THROW(client_->SetActive(true));
  } else {
    try {
      client_->SetActive(true);
      ADD_FAILURE() << "nothing thrown";
    } catch (const ESocketError &e) {
      EXPECT_EQ(e.message(), QString::fromLatin1(GetParam().escaped));
    }
  }
  EXPECT_EQ(rec_.events, (Events{"lookup", "error:lookup", "disconnect"}));
  EXPECT_EQ(rec_.errors[0].second, 1110);
  EXPECT_FALSE(client_->Active());
  EXPECT_EQ(OpenDescriptors(), before);
}

INSTANTIATE_TEST_SUITE_P(Codes, NoAddress,
                         ::testing::Values(ErrorCase{"Cleared", 0, nullptr},
                                           ErrorCase{"Left", std::nullopt, "No address specified"}),
                         [](const auto &c) { return std::string(c.param.name); });

TEST_F(ClientSocketTest, FailedLookupReportsLookupErrorThenDisconnect) {
  rec_.setCodeTo = std::nullopt;
  client_->SetHost(QStringLiteral("printer.invalid")); // the machine's resolver
  client_->SetPort(9100);
  client_->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("disconnect"); }));
  EXPECT_EQ(rec_.events, (Events{"lookup", "error:lookup", "disconnect"}));
  EXPECT_EQ(rec_.errors[0].second, EAI_NONAME);
  EXPECT_FALSE(client_->Active());
  ASSERT_EQ(rec_.escaped.size(), 1u);
  EXPECT_EQ(MessageOf(rec_.escaped[0]),
            QStringLiteral("Windows socket error: %1 (%2), on API 'ASync Lookup'")
                .arg(SystemErrorText(EAI_NONAME))
                .arg(EAI_NONAME));
}

// The machine's resolver with lookup threads the test starts itself.
struct HeldThreads {
  std::vector<std::function<void()>> bodies;
  bool refuse = false;
  std::shared_ptr<HostResolver> Resolver() {
    return CreateSystemHostResolver([this](std::function<void()> body) {
      if (refuse)
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      bodies.push_back(std::move(body));
    });
  }
};

TEST_F(ClientSocketTest, LookupWhoseThreadCannotStartRaisesAndLeavesNothing) {
  HeldThreads threads;
  threads.refuse = true;
  const auto resolver = threads.Resolver();
  MakeClient(resolver);
  const int before = OpenDescriptors();
  client_->SetHost(QStringLiteral("printer"));
  client_->SetPort(9100);
  try {
    client_->SetActive(true);
    ADD_FAILURE() << "nothing thrown";
  } catch (const ESocketError &e) {
    EXPECT_EQ(e.message(),
              QStringLiteral("Windows socket error: %1 (%2), on API 'WSAASyncGetHostByName'")
                  .arg(SystemErrorText(EAGAIN))
                  .arg(EAGAIN));
  }
  EXPECT_EQ(resolver->LookupsUnderWay(), 0);
  EXPECT_EQ(rec_.events, (Events{"lookup", "disconnect"}));
  EXPECT_FALSE(client_->Socket().Connecting());
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ClientSocketTest, AbandonedLookupIsCancelledAtOnce) {
  HeldThreads threads;
  const auto resolver = threads.Resolver();
  MakeClient(resolver);
  // Not a name any server is asked for: should the thread look it up after
  // all, the answer comes from the machine itself.
  client_->SetHost(QStringLiteral("::1"));
  client_->SetPort(9100);
  client_->SetActive(true);
  ASSERT_EQ(threads.bodies.size(), 1u);
  EXPECT_EQ(resolver->LookupsUnderWay(), 1);
  client_->SetActive(false);
  EXPECT_EQ(resolver->LookupsUnderWay(), 0);
  std::thread(threads.bodies[0]).join();
  RunEventLoopFor(50);
  EXPECT_EQ(rec_.events, (Events{"lookup", "disconnect"}));
}

// ---- abandoned attempts ----

TEST_F(ClientSocketTest, DeactivatingDuringLookupCancelsIt) {
  auto resolver = std::make_shared<ScriptedResolver>();
  resolver->holdAnswers = true;
  resolver->answers[QStringLiteral("printer")] = Address(INADDR_LOOPBACK);
  MakeClient(resolver);
  FakePrinter printer;
  client_->SetHost(QStringLiteral("printer"));
  client_->SetPort(printer.port());
  client_->SetActive(true);
  client_->SetActive(false);
  EXPECT_EQ(resolver->cancelled, std::vector<HostResolver::LookupId>{resolver->lastId()});
  resolver->ReleaseAll();
  RunEventLoopFor(100);
  EXPECT_EQ(rec_.events, (Events{"lookup", "disconnect"}));
  EXPECT_EQ(printer.connectionCount(), 0);
}

TEST_F(ClientSocketTest, DeactivatingDuringConnectAbandonsIt) {
  UnansweringPort silent;
  const int before = OpenDescriptors();
  client_->SetHost(QStringLiteral("127.0.0.1"));
  client_->SetPort(silent.port());
  client_->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("connecting"); }));
  RunEventLoopFor(50);
  EXPECT_TRUE(client_->Socket().Connecting());
  client_->SetActive(false);
  RunEventLoopFor(100);
  EXPECT_EQ(rec_.events, (Events{"lookup", "connecting", "disconnect"}));
  EXPECT_FALSE(client_->Socket().Connecting());
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ClientSocketTest, ActivatingTwiceMakesOneConnection) {
  FakePrinter printer;
  client_->SetHost(QStringLiteral("127.0.0.1"));
  client_->SetPort(printer.port());
  client_->SetActive(true);
  client_->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return client_->Active(); }));
  RunEventLoopFor(100);
  EXPECT_EQ(rec_.Count("connect"), 1);
  EXPECT_EQ(printer.connectionCount(), 1);
}

TEST_F(ClientSocketTest, ReactivatingDuringConnectIgnoresTheOldAttempt) {
  UnansweringPort silent;
  FakePrinter printer;
  client_->SetHost(QStringLiteral("127.0.0.1"));
  client_->SetPort(silent.port());
  client_->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("connecting"); }));
  client_->SetPort(printer.port());
  client_->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return client_->Active(); }));
  RunEventLoopFor(100);
  EXPECT_EQ(rec_.events, (Events{"lookup", "connecting", "disconnect", "lookup", "connecting",
                                 "connect", "write"}));
}

// ---- properties ----

TEST_F(ClientSocketTest, PropertiesCannotChangeWhileActiveButEqualValuesPass) {
  FakePrinter printer;
  ConnectTo(printer);
  const QString refused = QStringLiteral("Can't change value while socket is active");
  struct Change {
    const char *what;
    std::function<void()> set;
    bool allowed;
  };
  const std::vector<Change> changes = {
      {"same host, other case", [&] { client_->SetHost(QStringLiteral("127.0.0.1")); }, true},
      {"same port", [&] { client_->SetPort(printer.port()); }, true},
      {"same type", [&] { client_->SetClientType(TClientType::ctNonBlocking); }, true},
      {"host", [&] { client_->SetHost(QStringLiteral("127.0.0.2")); }, false},
      {"port", [&] { client_->SetPort(9100); }, false},
      {"address", [&] { client_->SetAddress(QStringLiteral("127.0.0.1")); }, false},
      {"service", [&] { client_->SetService(QStringLiteral("pdl")); }, false},
      {"type", [&] { client_->SetClientType(TClientType::ctBlocking); }, false},
  };
  for (const Change &change : changes) {
    try {
      change.set();
      EXPECT_TRUE(change.allowed) << change.what;
    } catch (const ESocketError &e) {
      EXPECT_FALSE(change.allowed) << change.what;
      EXPECT_EQ(e.message(), refused) << change.what;
    }
  }
  EXPECT_THROW(client_->Socket().OpenConnection(QStringLiteral("127.0.0.1"), {}, {}, 1),
               ESocketError);
  client_->SetActive(false);
  client_->SetHost(QStringLiteral("LOCALHOST"));
  client_->SetHost(QStringLiteral("localhost"));
  EXPECT_EQ(client_->Host(), QStringLiteral("LOCALHOST"));
}

TEST(SocketErrorTest, FormatsPlatformErrors) {
  EXPECT_EQ(ESocketError::ApiError(ECONNREFUSED, QStringLiteral("connect")).message(),
            QStringLiteral("Windows socket error: Connection refused (111), on API 'connect'"));
  EXPECT_EQ(ESocketError::AsyncError(104).message(),
            QStringLiteral("Asynchronous socket error 104"));
}

// ---- sending ----

TEST_F(ClientSocketTest, SendsStreamsInPiecesOf4096AndStringsWhole) {
  FakePrinter printer;
  ConnectTo(printer);
  const QByteArray stream = Pattern(10000);
  const QByteArray withZeros("\x1f\x00\x00", 3);
  EXPECT_TRUE(client_->Socket().BeginStreamSend(MakeStream(stream)));
  EXPECT_EQ(client_->Socket().SendString(withZeros), 3);
  ASSERT_TRUE(printer.waitForBytes(stream.size() + 3));
  ASSERT_TRUE(WaitUntil([&] { return drained_ > 0; }));
  EXPECT_EQ(progress_, (std::vector<qint64>{4096, 8192, 10000}));
  EXPECT_EQ(total_, 10000);
  EXPECT_EQ(finished_, std::vector<bool>{true});
  EXPECT_EQ(acknowledged_, 10000);
  EXPECT_EQ(finishedTotal_, 10000);
  EXPECT_EQ(drained_, 1);
  EXPECT_EQ(printer.received(), stream + withZeros);
}

TEST_F(ClientSocketTest, SendingWhenNotConnectedSendsNothing) {
  EXPECT_EQ(client_->Socket().SendBytes("abc", 3), 0);
  auto stream = MakeStream("abc");
  EXPECT_FALSE(client_->Socket().BeginStreamSend(std::move(stream)));
  EXPECT_NE(stream, nullptr) << "the stream stays with the caller";
}

struct BackPressureCase {
  const char *name;
  bool asStream;
};

class BackPressure : public ClientSocketTest,
                     public ::testing::WithParamInterface<BackPressureCase> {};

TEST_P(BackPressure, EveryByteArrivesInOrderAndTheLoopStaysResponsive) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ConnectTo(printer);
  printer.pauseReading();
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(10);

  // Bytes beyond what the socket holds are kept up to the bound; a stream
  // is read as it goes and may be of any size.
  const QByteArray bulk = Pattern(GetParam().asStream ? 6 << 20 : 3 << 20);
  const QByteArray tail1("\x1b\x40", 2);
  const QByteArray tail2("\x1f\x11\x00", 3);
  TClientWinSocket &socket = client_->Socket();
  if (GetParam().asStream)
    ASSERT_TRUE(socket.BeginStreamSend(MakeStream(bulk)));
  else
    ASSERT_EQ(socket.SendBytes(bulk.constData(), int(bulk.size())), int(bulk.size()));
  EXPECT_EQ(socket.SendBytes(tail1.constData(), 2), 2);
  EXPECT_EQ(socket.SendString(tail2), 3);
  auto second = MakeStream("more");
  if (GetParam().asStream) {
    EXPECT_FALSE(socket.BeginStreamSend(std::move(second)));
    EXPECT_NE(second, nullptr);
  }

  RunEventLoopFor(300);
  EXPECT_GE(ticks, 15) << "the event loop was held up";
  EXPECT_LT(printer.receivedSize(), bulk.size()) << "no back-pressure";
  EXPECT_TRUE(socket.HasPendingOutput());
  EXPECT_TRUE(finished_.empty());
  EXPECT_EQ(drained_, 0);

  printer.readSlowly(256 << 10, 2);
  ASSERT_TRUE(printer.waitForBytes(bulk.size() + 5, 30000));
  ASSERT_TRUE(WaitUntil([&] { return drained_ > 0; }));
  EXPECT_EQ(printer.receivedSize(), bulk.size() + 5);
  EXPECT_TRUE(printer.received() == bulk + tail1 + tail2) << "bytes lost or out of order";
  EXPECT_FALSE(socket.HasPendingOutput());
  EXPECT_TRUE(rec_.errors.empty());
  EXPECT_EQ(drained_, 1);
  if (GetParam().asStream) {
    EXPECT_EQ(finished_, std::vector<bool>{true});
    EXPECT_EQ(acknowledged_, bulk.size());
    EXPECT_EQ(progress_.back(), bulk.size());
    EXPECT_EQ(total_, bulk.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, BackPressure,
                         ::testing::Values(BackPressureCase{"Stream", true},
                                           BackPressureCase{"Bytes", false}),
                         [](const auto &c) { return std::string(c.param.name); });

TEST_F(ClientSocketTest, StreamIsDeliveredOnlyOnceThePrinterAcknowledgedEveryByte) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ConnectTo(printer);
  printer.pauseReading();
  const QByteArray data = Pattern(512 << 10, 3);
  ASSERT_TRUE(client_->Socket().BeginStreamSend(MakeStream(data)));
  ASSERT_TRUE(WaitUntil([&] { return !progress_.empty() && progress_.back() == data.size(); }))
      << "the socket did not take the whole stream";
  RunEventLoopFor(300);
  EXPECT_TRUE(finished_.empty()) << "reported before the printer had the bytes";
  EXPECT_EQ(drained_, 0);
  EXPECT_TRUE(client_->Socket().StreamSending());

  printer.resumeReading();
  ASSERT_TRUE(WaitUntil([&] { return !finished_.empty(); }));
  EXPECT_EQ(finished_, std::vector<bool>{true});
  EXPECT_EQ(acknowledged_, data.size());
  EXPECT_TRUE(WaitUntil([&] { return drained_ == 1; }));
  EXPECT_TRUE(printer.waitForBytes(data.size()));
  EXPECT_TRUE(printer.received() == data);
}

TEST_F(ClientSocketTest, BytesHeldForAPrinterThatStoppedReadingAreBounded) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ConnectTo(printer);
  printer.pauseReading();
  TClientWinSocket &socket = client_->Socket();
  const QByteArray chunk = Pattern(256 << 10, 5);
  QByteArray accepted;
  int result = 0;
  for (int i = 0; i < 200 && (result = socket.SendString(chunk)) == chunk.size(); ++i)
    accepted += chunk;
  ASSERT_EQ(result, -1) << "more than 50 MiB accepted";
  EXPECT_LE(socket.HeldBytes(), TCustomWinSocket::kHeldLimit);
  EXPECT_GT(socket.HeldBytes(), TCustomWinSocket::kHeldLimit - chunk.size());
  // Refused whole, nothing raised, and the connection stays: a printer out
  // of paper stops reading for a while.
  EXPECT_EQ(socket.SendString(chunk), -1);
  RunEventLoopFor(100);
  EXPECT_TRUE(rec_.errors.empty());
  EXPECT_TRUE(client_->Active());

  printer.resumeReading();
  ASSERT_TRUE(printer.waitForBytes(accepted.size(), 20000));
  EXPECT_TRUE(WaitUntil([&] { return drained_ == 1; }));
  EXPECT_TRUE(printer.received() == accepted) << "a refused send left bytes behind";
  EXPECT_EQ(socket.SendString(chunk), chunk.size());
}

// ---- the printer ends the connection ----

// A printer that closes its sending side mid-stream but goes on reading
// gets the whole stream; one that stops reading is given up after the
// stall limit, and the stream ends with what it acknowledged.
// Either way the count never runs ahead of what the printer received plus
// its receive buffer, and after a stall no more of the stream arrives.
class PrinterHalfCloses : public ClientSocketTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PrinterHalfCloses, TransferGoesOnWhileItAcknowledgesAndEndsOnAStall) {
  const bool keepsReading = GetParam();
  FakePrinter printer(FakePrinter::Options{0, 4096});
  const QByteArray data = Pattern(6 << 20);
  client_->Socket().SetStreamStallLimit(400);
  qint64 stalledAt = -1;
  QObject::connect(&client_->Socket(), &TCustomWinSocket::StreamStalled,
                   [&](qint64 acknowledged, qint64, int) { stalledAt = acknowledged; });
  StallStream(printer, data);
  if (keepsReading) {
    printer.close();
    RunEventLoopFor(100);
    EXPECT_TRUE(client_->Active()) << "closed on the printer's half-close";
    printer.readSlowly(256 << 10, 5);
  }
  ASSERT_TRUE(WaitUntil([&] { return !finished_.empty(); }, 20000));
  EXPECT_EQ(finished_, std::vector<bool>{keepsReading});
  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("disconnect"); }));
  EXPECT_TRUE(rec_.errors.empty());
  EXPECT_TRUE(std::is_sorted(acked_.begin(), acked_.end()));
  if (keepsReading) {
    EXPECT_EQ(stalledAt, -1);
    EXPECT_EQ(acknowledged_, data.size());
    ASSERT_TRUE(printer.waitForPeerEnd());
    EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Clean);
    EXPECT_TRUE(printer.received() == data);
    return;
  }
  EXPECT_EQ(stalledAt, acknowledged_);
  EXPECT_LT(acknowledged_, progress_.back());
  printer.resumeReading();
  ASSERT_TRUE(printer.waitForPeerEnd());
  EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Reset);
  EXPECT_LE(printer.receivedSize(), acknowledged_) << "more arrived than was reported";
  EXPECT_TRUE(data.startsWith(printer.received()));
}

INSTANTIATE_TEST_SUITE_P(Printer, PrinterHalfCloses, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &printer) {
                           return printer.param ? "HalfClosesAndReads" : "StopsReading";
                         });

TEST_F(ClientSocketTest, PrinterResettingMidStreamGivesSendErrorAndAborts) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  StallStream(printer, Pattern(6 << 20));
  printer.reset();
  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("disconnect"); }));
  RunEventLoopFor(50);
  EXPECT_EQ(rec_.events,
            (Events{"lookup", "connecting", "connect", "write", "error:send", "disconnect"}));
  EXPECT_FALSE(client_->Active());
  EXPECT_EQ(finished_, std::vector<bool>{false});
  ASSERT_EQ(rec_.escaped.size(), 1u);
  EXPECT_EQ(MessageOf(rec_.escaped[0]), QStringLiteral("<abort>"));
}

TEST_F(ClientSocketTest, PrinterClosingWhileIdleDisconnects) {
  FakePrinter printer;
  ConnectTo(printer);
  printer.close();
  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("disconnect"); }));
  EXPECT_FALSE(client_->Active());
  EXPECT_EQ(client_->Socket().SendBytes("x", 1), 0);
  EXPECT_TRUE(printer.waitForPeerEnd());
  EXPECT_EQ(printer.received(), QByteArray());
}

TEST_F(ClientSocketTest, ResetWhileIdleIsReportedAndTheNextSendFails) {
  FakePrinter printer;
  ConnectTo(printer);
  printer.reset();
  ASSERT_TRUE(WaitUntil([&] { return !rec_.errors.empty(); }));
  EXPECT_EQ(rec_.errors[0], std::make_pair(TErrorEvent::eeDisconnect, ECONNRESET));
  EXPECT_TRUE(client_->Active()) << "a broken connection counts as open until a send fails";
  EXPECT_FALSE(rec_.Saw("disconnect"));

  EXPECT_EQ(client_->Socket().SendBytes("x", 1), -1);
  EXPECT_EQ(rec_.errors.back().first, TErrorEvent::eeSend);
  EXPECT_EQ(rec_.events.back(), "disconnect");
  EXPECT_FALSE(client_->Active());
}

// ---- closing ----

TEST_F(ClientSocketTest, CloseIsCleanAndDeliversWhatWasSent) {
  FakePrinter printer;
  ConnectTo(printer);
  printer.send("status bytes nobody reads");
  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("read"); }));
  EXPECT_EQ(client_->Socket().SendString("\x1b@last command"), 14);
  client_->SetActive(false);
  EXPECT_EQ(rec_.events.back(), "disconnect");
  EXPECT_FALSE(client_->Active());
  ASSERT_TRUE(printer.waitForPeerEnd());
  EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Clean);
  EXPECT_EQ(printer.received(), QByteArray("\x1b@last command"));
  EXPECT_TRUE(WaitUntil([] { return TClientSocket::ClosingConnections() == 0; }));
}

// Bytes the printer's side acknowledged but its program never read are
// lost when it closes: its system then resets the connection instead of
// ending the stream. The close tells a reset from an orderly end, and a
// printer that read everything, or keeps what it has unread and the
// connection open, is no alarm.
TEST_F(ClientSocketTest, CloseTellsAResetAfterEverythingWasAcknowledged) {
  enum class Printer { ReadsAndEnds, KeepsItUnread, ResetsBeforeTheClose, ResetsDuringTheClose };
  struct Row {
    Printer printer;
    bool broken;
  };
  const Row rows[] = {
      {Printer::ReadsAndEnds, false},
      {Printer::KeepsItUnread, false},
      {Printer::ResetsBeforeTheClose, true},
      {Printer::ResetsDuringTheClose, true},
  };
  const QByteArray bytes = Pattern(1000, 5);
  for (const Row &row : rows) {
    SCOPED_TRACE(int(row.printer));
    MakeClient(SystemHostResolver());
    closeFinished_.clear();
    closeBroken_.clear();
    drained_ = 0;
    FakePrinter printer(FakePrinter::Options{0, 4096});
    ConnectTo(printer);
    if (row.printer != Printer::ReadsAndEnds)
      printer.pauseReading();
    ASSERT_EQ(client_->Socket().SendString(bytes), bytes.size());
    ASSERT_TRUE(WaitUntil([&] { return drained_ == 1; })) << "not all acknowledged";
    if (row.printer == Printer::ResetsBeforeTheClose) {
      printer.reset();
      ASSERT_TRUE(WaitUntil([&] { return !rec_.errors.empty(); }));
    }
    client_->SetActive(false);
    if (row.printer == Printer::ResetsDuringTheClose) {
      // Everything is acknowledged, so the close shuts the sending side
      // down at once and waits for the printer's end (a reset that comes
      // sooner is the row above).
      RunEventLoopFor(100);
      ASSERT_TRUE(closeFinished_.empty());
      printer.reset();
    }
    ASSERT_TRUE(WaitUntil([&] { return !closeFinished_.empty(); }));
    EXPECT_EQ(closeFinished_, std::vector<qint64>{0});
    EXPECT_EQ(closeBroken_, std::vector<bool>{row.broken});
    if (row.printer == Printer::ReadsAndEnds) {
      EXPECT_TRUE(printer.received() == bytes);
    }
  }
}

// Commands accepted for a printer that stopped reading, closed at once.
QByteArray SendWhilePaused(TClientWinSocket &socket, qsizetype size) {
  const QByteArray bytes = Pattern(size, 7);
  for (qsizetype at = 0; at < size; at += 64 << 10) {
    const QByteArray chunk = bytes.mid(at, 64 << 10);
    if (socket.SendString(chunk) != chunk.size())
      return bytes.left(at);
  }
  return bytes;
}

TEST_F(ClientSocketTest, CloseKeepsSendingToAPrinterThatPausesAndTellsAllArrived) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ConnectTo(printer);
  printer.send("unread");
  ASSERT_TRUE(WaitUntil([&] { return rec_.Saw("read"); }));
  printer.pauseReading();
  const QByteArray sent = SendWhilePaused(client_->Socket(), 4194319);
  ASSERT_EQ(sent.size(), 4194319);
  ASSERT_TRUE(client_->Socket().HasPendingOutput());
  client_->SetActive(false);
  EXPECT_EQ(rec_.events.back(), "disconnect");
  RunEventLoopFor(2000); // the printer pauses, as one does while it prints
  EXPECT_TRUE(closeFinished_.empty());
  printer.resumeReading();
  ASSERT_TRUE(WaitUntil([&] { return !closeFinished_.empty(); }, 20000));
  EXPECT_EQ(closeFinished_, std::vector<qint64>{0});
  ASSERT_TRUE(printer.waitForPeerEnd());
  EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Clean);
  EXPECT_TRUE(printer.received() == sent);
  EXPECT_EQ(TClientSocket::ClosingConnections(), 0);
}

TEST_F(ClientSocketTest, CloseGoesOnForAPrinterSlowerThanTheStallLimit) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ConnectTo(printer);
  printer.pauseReading();
  const QByteArray sent = SendWhilePaused(client_->Socket(), 128 << 10);
  ASSERT_EQ(sent.size(), 128 << 10);
  const int limitMs = 400;
  client_->Socket().SetCloseStallLimit(limitMs);
  QElapsedTimer clock;
  clock.start();
  client_->SetActive(false);
  // Each read is acknowledged: progress well within the limit, all of it
  // taking several limits.
  printer.readSlowly(16 << 10, 100);
  ASSERT_TRUE(WaitUntil([&] { return !closeFinished_.empty(); }, 20000));
  EXPECT_GT(clock.elapsed(), 2 * limitMs);
  EXPECT_EQ(closeFinished_, std::vector<qint64>{0});
  ASSERT_TRUE(printer.waitForPeerEnd());
  EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Clean);
  EXPECT_TRUE(printer.received() == sent);
}

TEST_F(ClientSocketTest, CloseGivesUpOnAStalledPrinterAndCountsWhatDidNotArrive) {
  FakePrinter printer(FakePrinter::Options{0, 4096});
  ConnectTo(printer);
  printer.pauseReading();
  const QByteArray sent = SendWhilePaused(client_->Socket(), 1 << 20);
  ASSERT_EQ(sent.size(), 1 << 20);
  const int limitMs = 500;
  client_->Socket().SetCloseStallLimit(limitMs);
  QElapsedTimer clock;
  clock.start();
  client_->SetActive(false);
  ASSERT_TRUE(WaitUntil([&] { return !closeFinished_.empty(); }, limitMs + 3000));
  EXPECT_GE(clock.elapsed(), limitMs * 9 / 10); // a coarse timer
  ASSERT_EQ(closeFinished_.size(), 1u);
  EXPECT_GT(closeFinished_[0], 0);
  // What the printer's side had acknowledged can still be read there; the
  // rest never arrives, and is exactly what was reported.
  printer.resumeReading();
  ASSERT_TRUE(printer.waitForPeerEnd());
  EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Reset);
  EXPECT_EQ(printer.receivedSize() + closeFinished_[0], sent.size());
  EXPECT_TRUE(sent.startsWith(printer.received()));
}

// "Disconnect" mid-stream abandons the stream at once and resets the
// connection: the printer gets no more of it than the count reported, even
// when it reads again. What did not arrive of the stream is its
// StreamFinished's to tell: the close counts only the commands, those
// before the stream and those behind it.
class AbandonedStream : public ClientSocketTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AbandonedStream, IsReportedAndOnlyTheCommandsThatDidNotArriveAreCounted) {
  const bool printerReadsAgain = GetParam();
  FakePrinter printer(FakePrinter::Options{0, 4096});
  const QByteArray before = Pattern(64 << 10, 9);
  const QByteArray data = Pattern(6 << 20);
  StallStream(printer, data, before);
  ASSERT_FALSE(progress_.empty()) << "the stream did not start";
  const QByteArray after("after the stream");
  client_->Socket().SendString(after);
  client_->Socket().SetCloseStallLimit(500);
  client_->SetActive(false);
  EXPECT_EQ(finished_, std::vector<bool>{false});
  EXPECT_LT(acknowledged_, progress_.back());
  EXPECT_EQ(finishedTotal_, data.size());
  if (printerReadsAgain)
    printer.resumeReading();
  ASSERT_TRUE(WaitUntil([&] { return !closeFinished_.empty(); }));
  // What the printer's side acknowledged can still be read after a reset.
  printer.resumeReading();
  ASSERT_TRUE(printer.waitForPeerEnd());
  EXPECT_EQ(printer.peerEnd(), FakePrinter::PeerEnd::Reset);
  const qint64 received = printer.receivedSize();
  EXPECT_TRUE((before + data).startsWith(printer.received()));
  EXPECT_LE(received, before.size() + acknowledged_) << "more arrived than was reported";
  EXPECT_LT(received, before.size() + progress_.back()) << "the abandoned stream went on";
  EXPECT_EQ(closeFinished_,
            std::vector<qint64>{std::max<qint64>(before.size() - received, 0) + after.size()});
}

INSTANTIATE_TEST_SUITE_P(Printer, AbandonedStream, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &printer) {
                           return printer.param ? "ReadsAgain" : "StaysStalled";
                         });

// ---- the event loop ----

TEST_F(ClientSocketTest, IdleConnectionCostsNoCpu) {
  FakePrinter printer;
  ConnectTo(printer);
  printer.send("ready\n");
  ASSERT_TRUE(WaitUntil([&] { return rec_.reads > 0; }));
  // Once the printer has acknowledged everything, nothing is looked at.
  client_->Socket().SendString("\x1b@");
  ASSERT_TRUE(WaitUntil([&] { return drained_ == 1; }));
  const double before = ProcessCpuMs();
  const qint64 wakeUpsBefore = MainThreadWakeUps();
  IdleFor(2000);
  const double used = ProcessCpuMs() - before;
  EXPECT_LT(used, 50.0);
  EXPECT_LE(MainThreadWakeUps() - wakeUpsBefore, 3) << "something is polled while idle";
  EXPECT_EQ(rec_.reads, 1) << "unread data was reported again";
  EXPECT_TRUE(client_->Active());
}

TEST_F(ClientSocketTest, ExceptionsFromHandlersGoToTheExceptionHandler) {
  FakePrinter printer;
  client_->OnConnect = [](TCustomWinSocket &) {
    throw Exception(QStringLiteral("from OnConnect"));
  };
  client_->SetHost(QStringLiteral("127.0.0.1"));
  client_->SetPort(printer.port());
  client_->SetActive(true);
  ASSERT_TRUE(WaitUntil([&] { return !rec_.escaped.empty(); }));
  EXPECT_EQ(MessageOf(rec_.escaped[0]), QStringLiteral("from OnConnect"));
  EXPECT_TRUE(client_->Active());
}

} // namespace
