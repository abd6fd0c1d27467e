// BSD sockets and POSIX clocks behind platform.h.
#include "platform.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace orb {

bool SocketsStartup(bool* started) {
  *started = true;
  return true;
}

int SocketLastError() { return errno; }
bool SocketErrorWouldBlock(int error) { return error == EWOULDBLOCK || error == EAGAIN; }
bool SocketErrorConnReset(int error) { return error == ECONNRESET || error == ECONNREFUSED; }

SocketHandle UdpOpen() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return kInvalidSocket;
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

bool UdpBind(SocketHandle socket, uint32_t ip, uint16_t port) {
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = ip;
  sa.sin_port = htons(port);
  return bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool UdpBoundPort(SocketHandle socket, uint16_t* port) {
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return false;
  *port = ntohs(sa.sin_port);
  return true;
}

bool LocalAddressToward(uint32_t ip, uint32_t* local) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = ip;
  sa.sin_port = htons(9);  // any port: a datagram socket's connect sends nothing
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  socklen_t len = sizeof sa;
  ok = ok && getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0;
  close(fd);
  if (ok) *local = sa.sin_addr.s_addr;
  return ok;
}

bool UdpSetNonBlocking(SocketHandle socket) {
  int fd = static_cast<int>(socket);
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int UdpWaitReadable(const SocketHandle* sockets, bool* readable, int count, uint32_t timeout_ms) {
  const int kMost = 8;
  if (count < 0 || count > kMost) return -1;
  pollfd p[kMost];
  for (int i = 0; i < count; ++i) {
    p[i].fd = static_cast<int>(sockets[i]);  // -1 is left out by poll
    p[i].events = POLLIN;
    p[i].revents = 0;
    readable[i] = false;
  }
  int timeout = timeout_ms > 0x7FFFFFFFu ? -1 : static_cast<int>(timeout_ms);
  int n = poll(p, static_cast<nfds_t>(count), timeout);
  if (n < 0) return -1;
  int ready = 0;
  for (int i = 0; i < count; ++i) {
    if (p[i].revents & POLLNVAL) return -1;
    readable[i] = (p[i].revents & (POLLIN | POLLERR)) != 0;
    ready += readable[i];
  }
  return ready;
}

int UdpReceiveFrom(SocketHandle socket, void* buffer, int capacity, SocketAddress* from) {
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  socklen_t len = sizeof sa;
  // MSG_TRUNC reports the real size, so an oversized datagram fails as it does on Windows
  // instead of arriving cut short.
  ssize_t n = recvfrom(static_cast<int>(socket), buffer, capacity < 0 ? 0 : capacity, MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) return -1;
  if (n > capacity) {
    errno = EMSGSIZE;
    return -1;
  }
  if (from) {
    from->ip = sa.sin_addr.s_addr;
    from->port = ntohs(sa.sin_port);
  }
  return static_cast<int>(n);
}

int UdpSendTo(SocketHandle socket, const void* data, int length, const SocketAddress& to) {
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = to.ip;
  sa.sin_port = htons(to.port);
  ssize_t n = sendto(static_cast<int>(socket), data, length < 0 ? 0 : length, MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return n < 0 ? -1 : static_cast<int>(n);
}

int UdpSendToWithTtl(SocketHandle socket, const void* data, int length, const SocketAddress& to,
                     int ttl) {
  const int fd = static_cast<int>(socket);
  int old_ttl = 64;
  socklen_t size = sizeof old_ttl;
  const bool have_old = getsockopt(fd, IPPROTO_IP, IP_TTL, &old_ttl, &size) == 0;
  setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
  const int n = UdpSendTo(socket, data, length, to);
  if (have_old) setsockopt(fd, IPPROTO_IP, IP_TTL, &old_ttl, sizeof old_ttl);
  return n;
}

void UdpClose(SocketHandle socket) {
  if (socket != kInvalidSocket) close(static_cast<int>(socket));
}

bool UdpConnect(SocketHandle socket, const SocketAddress& to) {
  sockaddr_in sa;
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = to.ip;
  sa.sin_port = htons(to.port);
  return connect(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

int UdpSend(SocketHandle socket, const void* data, int length) {
  ssize_t n = send(static_cast<int>(socket), data, length < 0 ? 0 : length, MSG_NOSIGNAL);
  return n < 0 ? -1 : static_cast<int>(n);
}

bool UdpRefused(SocketHandle socket) {
  const int fd = static_cast<int>(socket);
  char byte;
  for (int i = 0; i < 16; ++i) {  // bounded: a flood of datagrams must not hold the caller
    if (recv(fd, &byte, 1, MSG_TRUNC) >= 0) continue;
    if (errno == ECONNREFUSED || errno == ECONNRESET) return true;
    break;
  }
  int error = 0;
  socklen_t len = sizeof error;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
  return error == ECONNREFUSED || error == ECONNRESET;
}

uint32_t ParseIPv4(const char* text) {
  if (!text) return kAddressNone;
  return inet_addr(text);
}

char* FormatIPv4(uint32_t ip, char* out, size_t size) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&ip);
  snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return out;
}

int LookupHostIPv4(const char* name, uint32_t* addresses, int max) {
  if (!name || max <= 0) return 0;
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0) return 0;
  int count = 0;
  for (addrinfo* ai = result; ai && count < max; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET) continue;
    uint32_t ip = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
    bool seen = false;  // getaddrinfo repeats an address per protocol
    for (int i = 0; i < count; ++i) seen = seen || addresses[i] == ip;
    if (!seen) addresses[count++] = ip;
  }
  freeaddrinfo(result);
  return count;
}

bool LocalHostName(char* out, int size) {
  if (!out || size <= 0) return false;
  if (gethostname(out, static_cast<size_t>(size)) != 0) return false;
  out[size - 1] = '\0';
  return true;
}

uint64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void SleepMs(uint32_t ms) {
  timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace orb
