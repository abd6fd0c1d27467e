// The server's batching socket I/O on real loopback sockets (port 0, so nothing collides).
#include "listen_io.h"

#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace orb {
namespace server {
namespace {

class Peer {
 public:
  Peer() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Peer() { close(fd_); }
  void SendTo(uint16_t port, const std::string& bytes) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  // The next datagram, waiting up to a second; "" when none came.
  std::string Receive() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) return "";
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, n) : "";
  }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_;
};

// Receives from the ListenIo, waiting a little for loopback delivery.
int ReceiveOne(ListenIo* io, intptr_t h, uint8_t* buf, SocketAddress* from, int* error) {
  for (int tries = 0; tries < 100; ++tries) {
    int n = io->Receive(h, buf, kReceiveBufferBytes, from, error);
    if (n != DatagramIo::kNothing) return n;
    usleep(1000);
  }
  return DatagramIo::kNothing;
}

TEST(ListenIo, ReadsInBatchesAndHandsOutEveryDatagramInOrder) {
  ListenIo io(htonl(INADDR_LOOPBACK));
  intptr_t h;
  uint16_t port;
  ASSERT_EQ(io.Open(0, &h, &port), RESULT_NO_ERROR);
  Peer peer;
  const int kCount = ListenIo::kBatch * 2 + 5;
  for (int i = 0; i < kCount; ++i) peer.SendTo(port, "datagram " + std::to_string(i));
  peer.SendTo(port, std::string(kReceiveBufferBytes + 1, 'x'));  // one byte too many
  peer.SendTo(port, std::string(kReceiveBufferBytes, 'y'));      // exactly fits
  uint8_t buf[kReceiveBufferBytes];
  SocketAddress from{};
  int error = 0;
  for (int i = 0; i < kCount; ++i) {
    int n = ReceiveOne(&io, h, buf, &from, &error);
    ASSERT_GT(n, 0) << i;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "datagram " + std::to_string(i));
    EXPECT_EQ(from.port, peer.port());
    EXPECT_EQ(from.ip, htonl(INADDR_LOOPBACK));
  }
  EXPECT_EQ(ReceiveOne(&io, h, buf, &from, &error), DatagramIo::kError);
  EXPECT_EQ(error, EMSGSIZE);
  EXPECT_EQ(ReceiveOne(&io, h, buf, &from, &error), kReceiveBufferBytes);
  EXPECT_EQ(buf[kReceiveBufferBytes - 1], 'y');
  EXPECT_EQ(io.Receive(h, buf, kReceiveBufferBytes, &from, &error), DatagramIo::kNothing);
  // A datagram that comes after a short batch is read by the next call after that
  // batch's "nothing".
  peer.SendTo(port, "late");
  usleep(20000);
  int late = io.Receive(h, buf, kReceiveBufferBytes, &from, &error);
  if (late == DatagramIo::kNothing) late = io.Receive(h, buf, kReceiveBufferBytes, &from, &error);
  ASSERT_EQ(late, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "late");
  io.Close(h);
}

TEST(ListenIo, SendsLeaveWhenTheBatchFillsAndAtFlush) {
  ListenIo io(htonl(INADDR_LOOPBACK));
  intptr_t h;
  uint16_t port;
  ASSERT_EQ(io.Open(0, &h, &port), RESULT_NO_ERROR);
  Peer peer;
  SocketAddress to{htonl(INADDR_LOOPBACK), peer.port()};
  const int kCount = ListenIo::kBatch + 3;
  for (int i = 0; i < kCount; ++i) {
    std::string d = "out " + std::to_string(i);
    io.SendTo(h, reinterpret_cast<const uint8_t*>(d.data()), static_cast<int>(d.size()), to);
  }
  // The first full batch is already on its way; the last three wait for Flush.
  for (int i = 0; i < ListenIo::kBatch; ++i) ASSERT_EQ(peer.Receive(), "out " + std::to_string(i));
  io.Flush();
  for (int i = ListenIo::kBatch; i < kCount; ++i) EXPECT_EQ(peer.Receive(), "out " + std::to_string(i));
  // Close sends what is still gathered.
  io.SendTo(h, reinterpret_cast<const uint8_t*>("last"), 4, to);
  io.Close(h);
  EXPECT_EQ(peer.Receive(), "last");
}

TEST(ListenIo, BindsTheChosenAddressAndReportsAPortInUse) {
  ListenIo first(htonl(INADDR_LOOPBACK));
  intptr_t h;
  uint16_t port;
  ASSERT_EQ(first.Open(0, &h, &port), RESULT_NO_ERROR);
  ListenIo second(htonl(INADDR_LOOPBACK));
  intptr_t h2;
  uint16_t port2;
  EXPECT_EQ(second.Open(port, &h2, &port2), RESULT_BIND);
  EXPECT_EQ(second.last_open_error(), EADDRINUSE);
  // An address this machine does not have cannot be bound either.
  ListenIo elsewhere(inet_addr("198.51.100.200"));
  EXPECT_EQ(elsewhere.Open(0, &h2, &port2), RESULT_BIND);
  EXPECT_EQ(elsewhere.last_open_error(), EADDRNOTAVAIL);
  first.Close(h);
}

}  // namespace
}  // namespace server
}  // namespace orb
