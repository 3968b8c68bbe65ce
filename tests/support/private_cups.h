#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pellicar::test {

// A printer that only listens: a TCP server on 127.0.0.1 that records the
// bytes of every connection made to it. A print queue's backend makes one
// connection per job, so each connection is one job's data. Runs on a
// thread of its own, so it receives while the test's thread is busy or
// blocked; every member may be called from any thread.
class ByteSink {
public:
  ByteSink() = default;
  ~ByteSink() { Stop(); }
  ByteSink(const ByteSink &) = delete;
  ByteSink &operator=(const ByteSink &) = delete;

  // Listens on 127.0.0.1 on a free port. False, with the reason in
  // `error`, when that fails.
  bool Start(QString *error = nullptr);
  // Closes the listener and every connection still open.
  void Stop();
  quint16 Port() const { return port_; }

  // The bytes of each connection whose sender has finished (closed its
  // side), in the order the connections were accepted.
  QList<QByteArray> Received() const;
  // Connections accepted so far, finished or not.
  int ConnectionCount() const;
  // Blocks until at least `count` connections have finished or `timeoutMs`
  // have passed; returns whether they have.
  bool WaitForReceived(int count, int timeoutMs = 5000) const;
  // Forgets everything received so far.
  void Clear();

  // Called on the sink's thread whenever a connection finishes, with its
  // index in Received() and its bytes. Set before Start().
  std::function<void(int, const QByteArray &)> onReceived;

private:
  struct Connection {
    int fd = -1;
    QByteArray bytes;
    bool finished = false;
  };

  void run();
  void finish(Connection &connection);

  int listenFd_ = -1;
  int wakeFd_ = -1;
  quint16 port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

// A CUPS server of the test's own: configuration, spool and logs in a
// temporary folder, listening only on a Unix socket in it, with raw queues
// that deliver to the fixture's ByteSink on 127.0.0.1. No system service
// or system configuration is touched; Stop() (or the destructor) ends the
// daemon, reaps it and removes the folder.
//
// While it runs, CUPS_SERVER points at it for this process (and for the
// programs the fixture starts); Stop() restores the previous value.
//
// Use from one thread (the test's main thread).
class PrivateCups {
public:
  enum class Status {
    Running,     // the server answers
    Unavailable, // this machine cannot run it (daemon missing, or not root and refused)
    Failed,      // it should run here and did not: a fault to report
  };

  // Job states as the server reports them.
  enum JobState {
    kPending = 3,
    kHeld = 4,
    kProcessing = 5,
    kStopped = 6,
    kCanceled = 7,
    kAborted = 8,
    kCompleted = 9
  };

  struct Job {
    int id = 0;
    QString title;
    int state = 0;
    bool finished() const { return state >= kCanceled; }
  };

  PrivateCups() = default;
  ~PrivateCups() { Stop(); }
  PrivateCups(const PrivateCups &) = delete;
  PrivateCups &operator=(const PrivateCups &) = delete;

  // Starts the sink and the daemon and waits until the daemon answers
  // (a few tens of milliseconds). Unless Running, Message() says why.
  Status Start();
  const QString &Message() const { return message_; }

  // The value for CUPS_SERVER: the path of the server's socket.
  QString Server() const { return socketPath_; }
  QString Folder() const { return folder_; }

  // Adds an enabled, accepting raw queue named `name` whose device is
  // socket://127.0.0.1:PORT (the sink's port unless `port` is given),
  // with a connect timeout so that a missing printer fails the job instead
  // of stalling the queue.
  bool AddRawQueue(const QString &name, quint16 port = 0, QString *error = nullptr);
  // Makes `queue` accept or reject new jobs.
  bool SetAccepting(const QString &queue, bool accepting, QString *error = nullptr);

  ByteSink &Sink() { return sink_; }

  // The jobs of `queue`, finished or not, ordered by job id (the order in
  // which they were made), read from the server. Empty when it does not
  // answer.
  QList<Job> Jobs(const QString &queue) const;
  // Titles of the finished (completed, cancelled or aborted) jobs of
  // `queue`, in the order they were made.
  QStringList FinishedJobTitles(const QString &queue) const;
  // Spins the event loop until `queue` has at least `count` finished jobs.
  bool WaitForFinishedJobs(const QString &queue, int count, int timeoutMs = 5000) const;

  // Freezes the daemon (SIGSTOP) and thaws it: while frozen it accepts
  // connections but never answers, as a hung server does.
  void Pause();
  void Resume();

  // Ends the daemon and the sink, removes the folder, restores CUPS_SERVER.
  void Stop();

private:
  bool writeConfiguration();
  bool runTool(const QString &tool, const QStringList &arguments, QString *error) const;
  Status fail(const QString &why);
  QString logTail() const;

  ByteSink sink_;
  std::unique_ptr<QProcess> daemon_;
  QString folder_;
  QString socketPath_;
  QString message_;
  bool paused_ = false;
  bool exported_ = false;
  QByteArray previousServer_;
  bool hadPreviousServer_ = false;
};

} // namespace pellicar::test

// In a test or its SetUp: starts `cups` with a raw queue `queue`, or skips
// the test (with the reason) where the daemon cannot run here; any other
// failure fails the test.
#define PELLICAR_START_PRIVATE_CUPS(cups, queue)                                                   \
  do {                                                                                             \
    const ::pellicar::test::PrivateCups::Status started_ = (cups).Start();                         \
    if (started_ == ::pellicar::test::PrivateCups::Status::Unavailable)                            \
      GTEST_SKIP() << (cups).Message().toStdString();                                              \
    ASSERT_EQ(started_, ::pellicar::test::PrivateCups::Status::Running)                            \
        << (cups).Message().toStdString();                                                         \
    QString queueError_;                                                                           \
    ASSERT_TRUE((cups).AddRawQueue((queue), 0, &queueError_)) << queueError_.toStdString();        \
  } while (false)
