// An in-process network for the server's tests: every transport (the server and each
// member) gets a SimIo with an IPv4 address of its own, and datagrams move between them
// only when a transport pumps. No sockets, no real time; tests also inject datagrams with
// any source address, as an attacker could.
#ifndef ORB_TESTS_SERVER_SIM_NETWORK_H
#define ORB_TESTS_SERVER_SIM_NETWORK_H

#include <deque>
#include <map>
#include <set>
#include <vector>

#include "transport.h"

namespace orb {
namespace test {

struct SimDatagram {
  SocketAddress from;
  std::vector<uint8_t> bytes;
};

// A home router in front of hosts with private addresses. Outbound, a host's socket is
// given a port of the router's public address (its own port when free, as Linux's
// masquerading does) and the remote it sent to may answer there; anything else from
// outside is dropped, as a router that forwards nothing does. Hosts behind the same router
// reach each other by their private addresses.
struct NatRules {
  bool hairpin = false;    // a datagram to the router's own public address from inside is
                           // turned back in (many routers drop it)
  bool per_destination = false;  // a new public port for every destination (a "symmetric"
                                 // NAT, which no probing can open)
};

class SimNetwork {
 public:
  // Queues a datagram for whatever is bound at `to`, through the routers on its way;
  // nothing bound there drops it.
  void Deliver(const SocketAddress& from, const SocketAddress& to, const uint8_t* data,
               size_t length);
  // A datagram sent with a small IP time-to-live: it passes the sender's router (which
  // expects answers from `to` from now on) and dies before any other.
  void DeliverShortLived(const SocketAddress& from, const SocketAddress& to);

  // Routers: public and private addresses in network order.
  void AddNat(uint32_t public_ip, NatRules rules = NatRules());
  void PutBehindNat(uint32_t private_ip, uint32_t public_ip);
  // A forwarded port: public_ip:port reaches `inside` from anywhere.
  void ForwardPort(uint32_t public_ip, uint16_t port, const SocketAddress& inside);
  // Forgets every mapping of the router (it restarted, or its mappings timed out).
  void ResetNat(uint32_t public_ip);
  // Drops everything between two addresses (as they are on the wire between routers).
  void SetBlocked(uint32_t ip1, uint32_t ip2, bool blocked);
  // Datagrams the routers dropped on their way in.
  uint64_t DroppedAtNat() const { return dropped_at_nat_; }
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
  struct Mapping {
    SocketAddress inside;
    std::set<uint64_t> answers_from;  // remotes it sent to
  };
  struct Nat {
    NatRules rules;
    std::map<uint16_t, Mapping> by_public_port;
    std::map<std::pair<uint64_t, uint64_t>, uint16_t> by_flow;  // (inside, remote or 0)
    std::map<uint16_t, SocketAddress> forwarded;
  };
  // The public side of an outbound datagram; false when there is no router on the way.
  bool Outbound(const SocketAddress& from, const SocketAddress& to, SocketAddress* public_from);
  // The inside of an inbound datagram to a router's public address; false: dropped.
  bool Inbound(Nat& nat, const SocketAddress& from, const SocketAddress& to,
               SocketAddress* inside);
  void Queue(const SocketAddress& from, const SocketAddress& to, const uint8_t* data,
             size_t length);

  std::map<uint32_t, Nat> nats_;            // by public address
  std::map<uint32_t, uint32_t> behind_;     // private address -> public address
  std::set<std::pair<uint32_t, uint32_t>> blocked_;
  uint64_t dropped_at_nat_ = 0;
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
  // A time-to-live of 2 or less dies on the way (SimNetwork::DeliverShortLived).
  void SendToWithTtl(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to,
                     int ttl) override;
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
