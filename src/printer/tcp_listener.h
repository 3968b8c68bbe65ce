#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace pellicar {

// Whether `text` is a numeric IPv4 or IPv6 address (nothing is looked up).
bool IsNumericAddress(const QString &text);

// A listening TCP socket. It tells when a connection is waiting and hands
// out one connection at a time; while it is not watching, new connections
// wait in the system's queue, as they do at a printer busy with a job.
// Main thread.
class TcpListener : public QObject {
  Q_OBJECT
public:
  explicit TcpListener(QObject *parent = nullptr);
  ~TcpListener() override;

  // Listens on `address` (numeric) and `port` (0: a free one). False, with
  // the reason in `error`, when that fails. Called again, it moves: the old
  // socket (and the connections waiting in its queue) is closed once the
  // new one listens, and kept when it cannot. Watching starts anew.
  bool Listen(const QString &address, quint16 port, QString *error);
  quint16 Port() const { return port_; }
  // "127.0.0.1:9100", "[::1]:9100".
  QString Endpoint() const;

  // Watching: connectionWaiting() is emitted while a connection waits.
  void SetWatching(bool on);
  // The next waiting connection, non-blocking, with its peer as text; -1
  // when none waits, or (with the reason in `error`) when the system
  // refuses it (out of descriptors).
  int Accept(QString *peer, QString *error);

signals:
  void connectionWaiting();

private:
  int fd_ = -1;
  QString address_;
  quint16 port_ = 0;
  std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace pellicar
