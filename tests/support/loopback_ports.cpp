#include "support/loopback_ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellicar::test {

namespace {

sockaddr_in Loopback(quint16 port = 0) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// Binds `fd` to an ephemeral port on 127.0.0.1 and returns the port.
quint16 BindLoopback(int fd) {
  sockaddr_in address = Loopback();
  ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  return ntohs(address.sin_port);
}

} // namespace

RefusingPort::RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) { port_ = BindLoopback(fd_); }

RefusingPort::~RefusingPort() { ::close(fd_); }

UnansweringPort::UnansweringPort() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
  port_ = BindLoopback(listener_);
  ::listen(listener_, 0);
  // With a backlog of 0 the kernel queues one connection; this one fills
  // the queue, so the next request is dropped.
  filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in target = Loopback(port_);
  ::connect(filler_, reinterpret_cast<const sockaddr *>(&target), sizeof target);
}

UnansweringPort::~UnansweringPort() {
  for (int fd : {accepted_, filler_, listener_})
    if (fd >= 0)
      ::close(fd);
}

bool UnansweringPort::MakeRoom() {
  accepted_ = ::accept(listener_, nullptr, nullptr);
  return accepted_ >= 0;
}

bool UnansweringPort::HasQueuedConnection() const {
  pollfd p{listener_, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

} // namespace pellicar::test
