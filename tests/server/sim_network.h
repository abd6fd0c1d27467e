// An in-process network for the server's tests: every transport (the server and each
// member) gets a SimIo with an IPv4 address of its own, and datagrams move between them
// only when a transport pumps. No sockets, no real time; tests also inject datagrams with
// any source address, as an attacker could.
#ifndef ORB_TESTS_SERVER_SIM_NETWORK_H
#define ORB_TESTS_SERVER_SIM_NETWORK_H

#include <deque>
#include <map>
#include <vector>

#include "transport.h"

namespace orb {
namespace test {

struct SimDatagram {
  SocketAddress from;
  std::vector<uint8_t> bytes;
};

class SimNetwork {
 public:
  // Queues a datagram for whatever is bound at `to`; nothing bound there drops it.
  void Deliver(const SocketAddress& from, const SocketAddress& to, const uint8_t* data,
               size_t length);
  // Bytes ever sent to this address (what an amplification victim would receive).
  uint64_t BytesSentTo(const SocketAddress& to) const;
  uint64_t DatagramsSentTo(const SocketAddress& to) const;

  // Used by SimIo.
  bool Bind(const SocketAddress& at);
  void Unbind(const SocketAddress& at);
  std::deque<SimDatagram>* Queue(const SocketAddress& at);
  uint16_t NextPort() { return next_port_++; }

 private:
  static uint64_t Key(const SocketAddress& a) { return uint64_t(a.ip) << 16 | a.port; }
  std::map<uint64_t, std::deque<SimDatagram>> bound_;
  std::map<uint64_t, uint64_t> bytes_to_;
  std::map<uint64_t, uint64_t> datagrams_to_;
  uint16_t next_port_ = 40000;
};

// One host's datagram I/O on the simulated network. A handle is the index of the socket.
class SimIo : public DatagramIo {
 public:
  SimIo(SimNetwork* network, const char* ip);
  int32_t Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) override;
  int Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
              int* error) override;
  void SendTo(intptr_t handle, const uint8_t* data, int length,
              const SocketAddress& to) override;
  void Close(intptr_t handle) override;
  bool Resolve(const char* host, uint32_t* ip) override;

  uint32_t ip() const { return ip_; }
  // Stops this host answering: what it sends is lost (a player whose machine went away).
  void set_silent(bool silent) { silent_ = silent; }

 private:
  SimNetwork* network_;
  uint32_t ip_;
  bool silent_ = false;
  std::vector<SocketAddress> sockets_;
};

// Peer datagram bytes: the 12-byte header and a payload.
std::vector<uint8_t> PeerDatagram(uint32_t id, uint16_t type, uint16_t seq, uint16_t of,
                                  const std::vector<uint8_t>& payload);
// A CONNECT payload naming the connecting side's port and address.
std::vector<uint8_t> ConnectPayload(uint16_t port, int32_t address);

}  // namespace test
}  // namespace orb

#endif
