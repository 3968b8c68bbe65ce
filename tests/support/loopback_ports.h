#pragma once

#include <QtGlobal>

namespace pellicar::test {

// A port on 127.0.0.1 that refuses connections: bound for the object's
// life (so nobody else takes it), never listening.
class RefusingPort {
public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort &) = delete;
  RefusingPort &operator=(const RefusingPort &) = delete;
  quint16 port() const { return port_; }

private:
  int fd_;
  quint16 port_ = 0;
};

// A listener on 127.0.0.1 whose queue is full: the kernel drops connection
// requests, so a connect to it stays under way. MakeRoom takes the queued
// connection out; the next retry of a connect still under way (about a
// second after its first request) then gets through.
class UnansweringPort {
public:
  UnansweringPort();
  ~UnansweringPort();
  UnansweringPort(const UnansweringPort &) = delete;
  UnansweringPort &operator=(const UnansweringPort &) = delete;
  quint16 port() const { return port_; }

  bool MakeRoom();
  // A further connection has been queued since MakeRoom.
  bool HasQueuedConnection() const;

private:
  int listener_;
  int filler_ = -1;
  int accepted_ = -1;
  quint16 port_ = 0;
};

} // namespace pellicar::test
