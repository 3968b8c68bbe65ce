#include "support/private_cups.h"

#include "support/wait.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Under ThreadSanitizer: the fixture forks the daemon and the admin tools
// from a process that already has threads (the sink's, Qt's); the child
// only execs, but the sanitizer would kill it as soon as its runtime starts
// a thread of its own there. (Read only by ThreadSanitizer builds.)
extern "C" const char *__tsan_default_options() { return "die_after_fork=0"; }

namespace pellicar::test {

// ---------------------------------------------------------------- sink

bool ByteSink::Start(QString *error) {
  Stop();
  auto failed = [&](const char *what) {
    if (error != nullptr)
      *error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                            QString::fromLocal8Bit(strerror(errno)));
    Stop();
    return false;
  };
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0)
    return failed("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
    return failed("bind");
  if (listen(listenFd_, 16) != 0)
    return failed("listen");
  socklen_t length = sizeof address;
  if (getsockname(listenFd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
    return failed("getsockname");
  port_ = ntohs(address.sin_port);
  wakeFd_ = eventfd(0, EFD_CLOEXEC);
  if (wakeFd_ < 0)
    return failed("eventfd");
  {
    std::lock_guard lock(mutex_);
    connections_.clear();
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void ByteSink::Stop() {
  if (thread_.joinable()) {
    const quint64 one = 1;
    [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (listenFd_ >= 0)
    close(listenFd_);
  if (wakeFd_ >= 0)
    close(wakeFd_);
  listenFd_ = wakeFd_ = -1;
  port_ = 0;
}

void ByteSink::run() {
  std::vector<pollfd> polled;
  std::vector<Connection *> open;
  char buffer[65536];
  for (;;) {
    polled.assign({{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}});
    open.clear();
    {
      std::lock_guard lock(mutex_);
      for (auto &connection : connections_) {
        if (!connection->finished) {
          polled.push_back({connection->fd, POLLIN, 0});
          open.push_back(connection.get());
        }
      }
    }
    if (poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    if (polled[0].revents != 0)
      break;
    if (polled[1].revents & POLLIN) {
      const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        std::lock_guard lock(mutex_);
        connections_.push_back(std::move(connection));
        changed_.notify_all();
      }
    }
    for (size_t i = 0; i < open.size(); ++i) {
      if (polled[i + 2].revents == 0)
        continue;
      const ssize_t count = recv(open[i]->fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (count > 0) {
        std::lock_guard lock(mutex_);
        open[i]->bytes.append(buffer, count);
      } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
        finish(*open[i]);
      }
    }
  }
  std::lock_guard lock(mutex_);
  for (auto &connection : connections_) {
    if (!connection->finished && connection->fd >= 0)
      close(connection->fd);
    connection->fd = -1;
  }
}

void ByteSink::finish(Connection &connection) {
  // The sender has said all; closing our side lets it finish too (a print
  // backend waits for the printer to close before it reports the job done).
  close(connection.fd);
  int number = 0;
  QByteArray bytes;
  {
    std::lock_guard lock(mutex_);
    connection.fd = -1;
    connection.finished = true;
    bytes = connection.bytes;
    for (const auto &other : connections_) {
      if (other.get() == &connection)
        break;
      ++number;
    }
    changed_.notify_all();
  }
  if (onReceived)
    onReceived(number, bytes);
}

QList<QByteArray> ByteSink::Received() const {
  std::lock_guard lock(mutex_);
  QList<QByteArray> received;
  for (const auto &connection : connections_) {
    if (connection->finished)
      received.append(connection->bytes);
  }
  return received;
}

int ByteSink::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return int(connections_.size());
}

bool ByteSink::WaitForReceived(int count, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return std::count_if(connections_.begin(), connections_.end(),
                         [](const auto &connection) { return connection->finished; }) >= count;
  });
}

void ByteSink::Clear() {
  std::lock_guard lock(mutex_);
  // Connections still open stay: the sink's thread is reading them.
  std::erase_if(connections_, [](const auto &connection) { return connection->finished; });
}

// ------------------------------------------------- a small IPP client

namespace {

constexpr int kToolTimeoutMs = 10000;
constexpr int kStartTimeoutMs = 10000;
constexpr int kRequestTimeoutMs = 3000;

void put16(QByteArray &out, int value) {
  out.append(char((value >> 8) & 0xff));
  out.append(char(value & 0xff));
}

void putAttribute(QByteArray &out, quint8 tag, const QByteArray &name, const QByteArray &value) {
  out.append(char(tag));
  put16(out, int(name.size()));
  out.append(name);
  put16(out, int(value.size()));
  out.append(value);
}

quint32 get(const QByteArray &bytes, qsizetype at, int width) {
  quint32 value = 0;
  for (int i = 0; i < width; ++i)
    value = (value << 8) | quint8(bytes[at + i]);
  return value;
}

int connectUnix(const QString &path) {
  const QByteArray encoded = QFile::encodeName(path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (size_t(encoded.size()) >= sizeof address.sun_path)
    return -1;
  std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One HTTP exchange over the server's socket with a deadline: sends
// `request` and returns everything the server sent until it closed.
QByteArray exchange(const QString &socketPath, const QByteArray &request, int timeoutMs) {
  const int fd = connectUnix(socketPath);
  if (fd < 0)
    return {};
  QDeadlineTimer deadline(timeoutMs);
  qsizetype sent = 0;
  QByteArray reply;
  bool ok = true;
  while (ok) {
    pollfd polled{fd, short(sent < request.size() ? POLLOUT : POLLIN), 0};
    if (poll(&polled, 1, int(std::max<qint64>(1, deadline.remainingTime()))) <= 0) {
      ok = false;
      break;
    }
    if (sent < request.size()) {
      const ssize_t count =
          send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
      ok = count > 0;
      sent += count;
      continue;
    }
    char buffer[8192];
    const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
    if (count <= 0)
      break;
    reply.append(buffer, count);
  }
  close(fd);
  return ok ? reply : QByteArray();
}

// The body of an HTTP/1.1 reply with status 200, chunked or not; empty
// otherwise.
QByteArray httpBody(const QByteArray &reply) {
  const qsizetype end = reply.indexOf("\r\n\r\n");
  if (end < 0 || !reply.startsWith("HTTP/1.1 200"))
    return {};
  const QByteArray header = reply.left(end).toLower();
  QByteArray body = reply.mid(end + 4);
  if (!header.contains("transfer-encoding: chunked"))
    return body;
  QByteArray decoded;
  qsizetype at = 0;
  for (;;) {
    const qsizetype lineEnd = body.indexOf("\r\n", at);
    if (lineEnd < 0)
      return {};
    bool ok = false;
    const qsizetype size =
        body.mid(at, lineEnd - at).split(';').first().trimmed().toLongLong(&ok, 16);
    if (!ok || lineEnd + 2 + size > body.size())
      return {};
    if (size == 0)
      return decoded;
    decoded.append(body.mid(lineEnd + 2, size));
    at = lineEnd + 2 + size + 2;
  }
}

// The jobs in a Get-Jobs response.
QList<PrivateCups::Job> parseJobs(const QByteArray &ipp) {
  QList<PrivateCups::Job> jobs;
  if (ipp.size() < 8)
    return jobs;
  qsizetype at = 8; // version, status, request id
  bool inJob = false;
  QByteArray name;
  while (at < ipp.size()) {
    const quint8 tag = quint8(ipp[at++]);
    if (tag == 0x03) // end of attributes
      break;
    if (tag < 0x10) { // a group begins; 0x02 is a job's
      inJob = tag == 0x02;
      if (inJob)
        jobs.append(PrivateCups::Job{});
      continue;
    }
    if (at + 2 > ipp.size())
      break;
    const int nameLength = int(get(ipp, at, 2));
    if (at + 2 + nameLength + 2 > ipp.size())
      break;
    if (nameLength > 0) // otherwise another value of the same attribute
      name = ipp.mid(at + 2, nameLength);
    at += 2 + nameLength;
    const int valueLength = int(get(ipp, at, 2));
    if (at + 2 + valueLength > ipp.size())
      break;
    const QByteArray value = ipp.mid(at + 2, valueLength);
    at += 2 + valueLength;
    if (!inJob)
      continue;
    if (name == "job-id" && tag == 0x21 && value.size() == 4)
      jobs.last().id = int(get(value, 0, 4));
    else if (name == "job-state" && tag == 0x23 && value.size() == 4)
      jobs.last().state = int(get(value, 0, 4));
    else if (name == "job-name" && tag == 0x42)
      jobs.last().title = QString::fromUtf8(value);
    else if (name == "job-name" && tag == 0x41 && value.size() >= 4) {
      // name with language: language length, language, text length, text
      const int languageLength = int(get(value, 0, 2));
      jobs.last().title = QString::fromUtf8(value.mid(2 + languageLength + 2));
    }
  }
  jobs.removeIf([](const PrivateCups::Job &job) { return job.id == 0; });
  std::sort(jobs.begin(), jobs.end(), [](const auto &a, const auto &b) { return a.id < b.id; });
  return jobs;
}

QString findTool(const QString &name) {
  QString path = QStandardPaths::findExecutable(name);
  if (path.isEmpty())
    path = QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
  return path;
}

} // namespace

// -------------------------------------------------------------- server

PrivateCups::Status PrivateCups::fail(const QString &why) {
  Stop();
  if (geteuid() != 0) {
    message_ = QStringLiteral("the private CUPS server cannot run here (not root, and it would "
                              "not start): %1")
                   .arg(why);
    return Status::Unavailable;
  }
  message_ = QStringLiteral("the private CUPS server did not start: %1").arg(why);
  return Status::Failed;
}

PrivateCups::Status PrivateCups::Start() {
  Stop();
  message_.clear();
  const QString cupsd = findTool(QStringLiteral("cupsd"));
  if (cupsd.isEmpty() || findTool(QStringLiteral("lpadmin")).isEmpty()) {
    message_ = QStringLiteral("the CUPS daemon or lpadmin is not installed on this machine "
                              "(scripts/install-deps installs cups, cups-client, cups-daemon)");
    return Status::Unavailable;
  }
  QString error;
  if (!sink_.Start(&error))
    return fail(QStringLiteral("the byte sink cannot listen on 127.0.0.1: %1").arg(error));

  // A short folder name: the socket's path must fit a sockaddr_un.
  QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/pellicar-cups.XXXXXX";
  if (pattern.size() > 80)
    pattern = "/tmp/pellicar-cups.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    pattern = "/tmp/pellicar-cups.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
      return fail(QStringLiteral("cannot make a folder in %1 or /tmp").arg(QDir::tempPath()));
  }
  folder_ = QFile::decodeName(pattern);
  socketPath_ = folder_ + QStringLiteral("/cups.sock");
  if (!writeConfiguration())
    return fail(QStringLiteral("cannot write its configuration in %1").arg(folder_));

  daemon_ = std::make_unique<QProcess>();
  daemon_->setProcessChannelMode(QProcess::MergedChannels);
  daemon_->setChildProcessModifier([] {
    // Should the test die, the daemon goes with it; a Ctrl-C in the
    // terminal reaches only the test, which then stops the daemon itself.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
  });
  daemon_->start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), folder_ + "/cupsd.conf",
                         QStringLiteral("-s"), folder_ + "/cups-files.conf"});
  if (!daemon_->waitForStarted(kToolTimeoutMs))
    return fail(QStringLiteral("%1 cannot be started: %2").arg(cupsd, daemon_->errorString()));

  // The daemon answers once its socket listens; until then a connection is
  // refused. Between attempts we wait on the daemon's exit, which is what
  // a refusal looks like.
  QDeadlineTimer deadline(kStartTimeoutMs);
  int pauseMs = 2;
  for (;;) {
    const int fd = connectUnix(socketPath_);
    if (fd >= 0) {
      close(fd);
      break;
    }
    if (daemon_->waitForFinished(pauseMs)) {
      const QString output = QString::fromLocal8Bit(daemon_->readAll()).trimmed();
      return fail(QStringLiteral("cupsd exited with status %1. %2 %3")
                      .arg(daemon_->exitCode())
                      .arg(output, logTail()));
    }
    if (deadline.hasExpired())
      return fail(QStringLiteral("cupsd did not answer within %1 ms. %2")
                      .arg(kStartTimeoutMs)
                      .arg(logTail()));
    pauseMs = std::min(pauseMs * 2, 50);
  }

  hadPreviousServer_ = qEnvironmentVariableIsSet("CUPS_SERVER");
  previousServer_ = qgetenv("CUPS_SERVER");
  qputenv("CUPS_SERVER", QFile::encodeName(socketPath_));
  exported_ = true;
  return Status::Running;
}

bool PrivateCups::writeConfiguration() {
  if (chmod(QFile::encodeName(folder_).constData(), 0755) != 0)
    return false;
  QDir dir(folder_);
  for (const char *sub : {"spool", "tmp", "cache", "state", "log", "ssl"}) {
    if (!dir.mkdir(QLatin1String(sub)))
      return false;
  }

  // As root the daemon runs its backends as lp, as a system server does.
  // As anyone else it can only stay who it is; whether it then runs at
  // all depends on the machine.
  QString userName = QStringLiteral("lp");
  QString groupName = QStringLiteral("lp");
  QString systemGroup = QStringLiteral("root lpadmin");
  if (geteuid() != 0) {
    const struct passwd *pw = getpwuid(geteuid());
    const struct group *gr = getgrgid(getegid());
    if (pw == nullptr || gr == nullptr)
      return false;
    userName = QString::fromLocal8Bit(pw->pw_name);
    groupName = systemGroup = QString::fromLocal8Bit(gr->gr_name);
  }

  const QString files = QStringLiteral("ServerRoot %1\n"
                                       "RequestRoot %1/spool\n"
                                       "TempDir %1/tmp\n"
                                       "CacheDir %1/cache\n"
                                       "StateDir %1/state\n"
                                       "ServerKeychain %1/ssl\n"
                                       "ErrorLog %1/log/error_log\n"
                                       "AccessLog %1/log/access_log\n"
                                       "PageLog %1/log/page_log\n"
                                       "Printcap %1/printcap\n"
                                       "User %2\n"
                                       "Group %3\n"
                                       "SystemGroup %4\n")
                            .arg(folder_, userName, groupName, systemGroup);
  // Only the socket, no network listener, no browsing or discovery; the
  // job history is kept so that tests can read the titles of finished
  // jobs, and every job's attributes are visible to every client.
  const QString server = QStringLiteral("Listen %1\n"
                                        "Browsing No\n"
                                        "BrowseLocalProtocols none\n"
                                        "WebInterface No\n"
                                        "DefaultAuthType None\n"
                                        "PreserveJobHistory Yes\n"
                                        "PreserveJobFiles No\n"
                                        "ErrorPolicy abort-job\n"
                                        "LogLevel info\n"
                                        "<Location />\n"
                                        "  Order allow,deny\n"
                                        "  Allow all\n"
                                        "</Location>\n"
                                        "<Policy default>\n"
                                        "  JobPrivateAccess all\n"
                                        "  JobPrivateValues none\n"
                                        "  SubscriptionPrivateAccess all\n"
                                        "  SubscriptionPrivateValues none\n"
                                        "  <Limit All>\n"
                                        "    Order deny,allow\n"
                                        "  </Limit>\n"
                                        "</Policy>\n")
                             .arg(socketPath_);
  for (const auto &[name, text] : {std::pair{"cups-files.conf", files}, {"cupsd.conf", server}}) {
    QFile file(dir.filePath(QLatin1String(name)));
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) != text.toUtf8().size())
      return false;
  }
  return true;
}

QString PrivateCups::logTail() const {
  QFile log(folder_ + QStringLiteral("/log/error_log"));
  if (folder_.isEmpty() || !log.open(QIODevice::ReadOnly))
    return {};
  const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
  return QStringLiteral("Its log ends: ") +
         QString::fromLocal8Bit(lines.mid(std::max<qsizetype>(0, lines.size() - 5)).join('\n'));
}

bool PrivateCups::runTool(const QString &tool, const QStringList &arguments, QString *error) const {
  auto failed = [&](const QString &why) {
    if (error != nullptr)
      *error = QStringLiteral("%1 %2: %3").arg(tool, arguments.join(' '), why);
    return false;
  };
  if (socketPath_.isEmpty())
    return failed(QStringLiteral("the server is not running"));
  const QString path = findTool(tool);
  if (path.isEmpty())
    return failed(QStringLiteral("not installed"));
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("CUPS_SERVER"), socketPath_);
  process.setProcessEnvironment(environment);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(path, arguments);
  if (!process.waitForFinished(kToolTimeoutMs)) {
    process.kill();
    process.waitForFinished();
    return failed(QStringLiteral("no answer within %1 ms").arg(kToolTimeoutMs));
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    return failed(QString::fromLocal8Bit(process.readAll()).trimmed());
  return true;
}

bool PrivateCups::AddRawQueue(const QString &name, quint16 port, QString *error) {
  // Without a connect timeout the socket backend retries a missing
  // printer every few seconds for ever.
  const QString device =
      QStringLiteral("socket://127.0.0.1:%1/?contimeout=5").arg(port != 0 ? port : sink_.Port());
  return runTool(QStringLiteral("lpadmin"),
                 {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"), device},
                 error);
}

bool PrivateCups::SetAccepting(const QString &queue, bool accepting, QString *error) {
  return runTool(accepting ? QStringLiteral("cupsaccept") : QStringLiteral("cupsreject"), {queue},
                 error);
}

namespace {

// An IPP request to a queue of the server: `operation` with the
// operation attributes that follow the usual three.
QByteArray ippRequest(const QString &queue, char operation,
                      const std::function<void(QByteArray &)> &attributes) {
  QByteArray ipp;
  ipp.append("\x02\x00", 2); // IPP 2.0
  ipp.append('\0');
  ipp.append(operation);
  ipp.append("\x00\x00\x00\x01", 4); // request id
  ipp.append('\x01');                // operation attributes
  putAttribute(ipp, 0x47, "attributes-charset", "utf-8");
  putAttribute(ipp, 0x48, "attributes-natural-language", "en");
  putAttribute(ipp, 0x45, "printer-uri", "ipp://localhost/printers/" + queue.toUtf8());
  putAttribute(ipp, 0x42, "requesting-user-name", "pellicar-test");
  attributes(ipp);
  ipp.append('\x03');

  QByteArray request = "POST /printers/" + queue.toUtf8() +
                       " HTTP/1.1\r\n"
                       "Host: localhost\r\n"
                       "Content-Type: application/ipp\r\n"
                       "Connection: close\r\n"
                       "Content-Length: " +
                       QByteArray::number(ipp.size()) + "\r\n\r\n";
  request.append(ipp);
  return request;
}

} // namespace

QList<PrivateCups::Job> PrivateCups::Jobs(const QString &queue) const {
  if (socketPath_.isEmpty() || paused_)
    return {};
  const QByteArray list = ippRequest(queue, 0x0a /* Get-Jobs */, [](QByteArray &ipp) {
    putAttribute(ipp, 0x44, "which-jobs", "all");
    putAttribute(ipp, 0x44, "requested-attributes", "job-id");
    putAttribute(ipp, 0x44, "", "job-name");
    putAttribute(ipp, 0x44, "", "job-state");
  });
  QList<Job> jobs = parseJobs(httpBody(exchange(socketPath_, list, kRequestTimeoutMs)));
  // Under load the server sometimes lists a finished job without its name
  // (its record on disk has it); asking for that one job gives it.
  for (Job &job : jobs) {
    if (!job.title.isEmpty())
      continue;
    const QByteArray one = ippRequest(queue, 0x09 /* Get-Job-Attributes */, [&](QByteArray &ipp) {
      QByteArray id;
      put16(id, job.id >> 16);
      put16(id, job.id & 0xFFFF);
      putAttribute(ipp, 0x21, "job-id", id);
      putAttribute(ipp, 0x44, "requested-attributes", "job-id");
      putAttribute(ipp, 0x44, "", "job-name");
    });
    const QList<Job> answer = parseJobs(httpBody(exchange(socketPath_, one, kRequestTimeoutMs)));
    if (answer.size() == 1 && answer.first().id == job.id)
      job.title = answer.first().title;
  }
  return jobs;
}

QStringList PrivateCups::FinishedJobTitles(const QString &queue) const {
  QStringList titles;
  for (const Job &job : Jobs(queue)) {
    if (job.finished())
      titles.append(job.title);
  }
  return titles;
}

bool PrivateCups::WaitForFinishedJobs(const QString &queue, int count, int timeoutMs) const {
  return WaitUntil([&] { return FinishedJobTitles(queue).size() >= count; }, timeoutMs);
}

void PrivateCups::Pause() {
  if (daemon_ && daemon_->state() == QProcess::Running && !paused_) {
    kill(pid_t(daemon_->processId()), SIGSTOP);
    paused_ = true;
  }
}

void PrivateCups::Resume() {
  if (daemon_ && paused_) {
    kill(pid_t(daemon_->processId()), SIGCONT);
    paused_ = false;
  }
}

void PrivateCups::Stop() {
  if (daemon_) {
    Resume();
    if (daemon_->state() != QProcess::NotRunning) {
      // A SIGTERM that arrives just before the daemon goes to sleep is
      // only seen when it wakes, up to a second later; a second one ends
      // it at once.
      daemon_->terminate();
      if (!daemon_->waitForFinished(100))
        daemon_->terminate();
      if (!daemon_->waitForFinished(kToolTimeoutMs)) {
        daemon_->kill();
        daemon_->waitForFinished(kToolTimeoutMs);
      }
    }
    daemon_.reset();
  }
  sink_.Stop();
  if (exported_) {
    if (hadPreviousServer_)
      qputenv("CUPS_SERVER", previousServer_);
    else
      qunsetenv("CUPS_SERVER");
    exported_ = false;
  }
  if (!folder_.isEmpty())
    QDir(folder_).removeRecursively();
  folder_.clear();
  socketPath_.clear();
}

} // namespace pellicar::test
