// A deterministic in-process network for everything built on the peer transport (its own
// tests, the group server's, the fuzz targets): hosts with IPv4 addresses, UDP sockets on
// them, a virtual millisecond clock, and seeded loss, duplication, delay and jitter (which
// reorders). Every random choice comes from one seeded generator, so a run is repeated
// exactly by the same seed and the same calls. With no conditions set a datagram is ready
// for its receiver as soon as it is sent. Tests also put datagrams on the wire with any
// source address, as an attacker could.
#ifndef ORB_TESTS_SIM_SIM_NETWORK_H
#define ORB_TESTS_SIM_SIM_NETWORK_H

#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "transport.h"

namespace orb {
namespace sim {

// splitmix64: small, fast, the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // True with the given probability (0..1).
  bool Chance(double p);
  // Uniform in [0, n).
  uint64_t Below(uint64_t n);

 private:
  uint64_t state_;
};

struct Conditions {
  double loss = 0;         // probability that a datagram is dropped
  double duplicate = 0;    // probability that it arrives twice
  uint32_t delay_ms = 0;   // fixed delay
  uint32_t jitter_ms = 0;  // plus uniform 0..jitter_ms, independently per copy
};

// One datagram on the wire, as the tap sees it.
struct WireDatagram {
  uint64_t at;  // virtual ms when sent
  SocketAddress from;
  SocketAddress to;
  std::vector<uint8_t> bytes;
};

class Host;

// A home router in front of hosts with private addresses (Network::AddNat). Outbound, a
// host's socket is given a port of the router's public address (its own port when free, as
// Linux's masquerading does) and the remote it sent to may answer there; anything else from
// outside is dropped, as a router that forwards nothing does. Hosts behind the same router
// reach each other by their private addresses.
struct NatRules {
  bool hairpin = false;          // a datagram from inside to the router's own public address
                                 // is turned back in (many routers drop it)
  bool per_destination = false;  // a new public port for every destination (a "symmetric"
                                 // NAT, which no probing can open)
};

class Network {
 public:
  explicit Network(uint64_t seed = 1) : random_(seed) {}
  ~Network();

  // A host with the dotted address text; the Network owns it.
  Host* AddHost(const char* ip_text);
  // Makes Resolve of name give ip_text on every host.
  void AddName(const std::string& name, const char* ip_text);

  uint64_t Now() const { return now_; }
  void Advance(uint64_t ms) { now_ += ms; }
  std::function<uint64_t()> Clock() {
    return [this] { return now_; };
  }
  std::function<void(uint32_t)> Sleeper() {
    return [this](uint32_t ms) { now_ += ms; };
  }

  void SetConditions(const Conditions& c) { conditions_ = c; }

  // Routers: public and private addresses in network order.
  void AddNat(uint32_t public_ip, NatRules rules = NatRules());
  void PutBehindNat(uint32_t private_ip, uint32_t public_ip);
  // Drops everything between two addresses (as they are between the routers).
  void SetBlocked(uint32_t ip1, uint32_t ip2, bool blocked);
  // Datagrams routers (or a block) dropped on their way.
  uint64_t DroppedAtNat() const { return dropped_at_nat_; }
  // Puts a datagram on the wire from any source (forged or not), subject to conditions.
  void Inject(const SocketAddress& from, const SocketAddress& to, const void* data, size_t size);
  // Every datagram sent, in order (before loss); off by default.
  void SetTap(bool on) { tap_on_ = on; }
  const std::vector<WireDatagram>& Tapped() const { return tapped_; }
  void ClearTap();

  uint64_t Sent() const { return sent_; }
  uint64_t Lost() const { return lost_; }
  uint64_t Duplicated() const { return duplicated_; }
  uint64_t Undeliverable() const { return undeliverable_; }
  // Bytes and datagrams ever sent to this address, before loss and whether or not anything
  // is bound there (what the victim of an amplification attack would receive).
  uint64_t BytesSentTo(const SocketAddress& to) const;
  uint64_t DatagramsSentTo(const SocketAddress& to) const;
  // Datagrams waiting in some socket, delivered or not yet.
  size_t InFlight() const;

  // Internals for Host.
  struct Queued {
    uint64_t deliver_at;
    uint64_t order;
    SocketAddress from;
    std::vector<uint8_t> bytes;
  };
  struct Socket {
    SocketAddress bound;
    std::vector<Queued> inbox;  // a heap, earliest (deliver_at, order) at the front
  };
  int32_t Open(uint32_t ip, uint16_t port, intptr_t* handle, uint16_t* bound_port);
  Socket* Find(intptr_t handle);
  void Close(intptr_t handle);
  void Send(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to);
  // A datagram with a small IP time-to-live: it passes the sender's router (which expects
  // answers from `to` from now on) and dies before any other.
  void SendShortLived(intptr_t handle, const SocketAddress& to);
  bool ResolveName(const char* host, uint32_t* ip) const;
  // The earliest datagram due by now in the socket's inbox, taken out; false if none.
  bool TakeDue(Socket* s, Queued* out);
  // Gives a datagram's byte buffer back for reuse (a fuzz target runs millions of datagrams
  // through a network, and allocation is most of what each costs under a sanitizer).
  void Recycle(std::vector<uint8_t>* bytes);

 private:
  void Schedule(const SocketAddress& from, const SocketAddress& to, const uint8_t* data,
                size_t size);
  struct Mapping {
    SocketAddress inside;
    std::set<uint64_t> answers_from;  // remotes it sent to
  };
  struct Nat {
    NatRules rules;
    std::map<uint16_t, Mapping> by_public_port;
    std::map<std::pair<uint64_t, uint64_t>, uint16_t> by_flow;  // (inside, remote or 0)
  };
  // The public side of an outbound datagram; false when no router is on its way.
  bool Outbound(const SocketAddress& from, const SocketAddress& to, SocketAddress* public_from);
  // Where a datagram goes through the routers; false when one drops it.
  bool Route(SocketAddress* from, SocketAddress* to);
  // A byte buffer holding a copy of data, reused when one is spare.
  std::vector<uint8_t> Copy(const uint8_t* data, size_t size);

  Random random_;
  Conditions conditions_;
  uint64_t now_ = 0;
  uint64_t order_ = 0;
  intptr_t next_handle_ = 100;
  uint16_t next_ephemeral_ = 49152;
  static uint64_t Key(uint32_t ip, uint16_t port) {
    return (static_cast<uint64_t>(ip) << 16) | port;
  }

  std::map<intptr_t, Socket> sockets_;
  std::map<uint64_t, intptr_t> bound_;  // Key(ip, port) -> handle
  std::map<uint64_t, uint64_t> bytes_to_, datagrams_to_;  // by Key(ip, port)
  std::vector<std::unique_ptr<Host>> hosts_;
  std::map<std::string, uint32_t> names_;
  bool tap_on_ = false;
  std::vector<WireDatagram> tapped_;
  std::vector<std::vector<uint8_t>> spare_[3];  // buffers given back, by size class (Copy)
  uint64_t sent_ = 0, lost_ = 0, duplicated_ = 0, undeliverable_ = 0;
  std::map<uint32_t, Nat> nats_;         // by public address
  std::map<uint32_t, uint32_t> behind_;  // private address -> public address
  std::set<std::pair<uint32_t, uint32_t>> blocked_;
  uint64_t dropped_at_nat_ = 0;
};

// The DatagramIo of one simulated host.
class Host : public DatagramIo {
 public:
  Host(Network* network, uint32_t ip) : network_(network), ip_(ip) {}
  uint32_t Ip() const { return ip_; }
  // Makes every Open fail with this result code (0: normal).
  void FailOpenWith(int32_t code) { fail_open_ = code; }
  // The next Receive calls on any socket of this host report these errors first.
  void QueueReceiveErrors(int error, int count) {
    error_code_ = error;
    errors_left_ = count;
  }
  // A silent host neither sends nor reads: what it sends is lost and what arrives for it is
  // swallowed (a player whose machine went away, a victim whose address was forged).
  void SetSilent(bool silent) { silent_ = silent; }

  int32_t Open(uint16_t port, intptr_t* handle, uint16_t* bound_port) override;
  int Receive(intptr_t handle, uint8_t* buffer, int capacity, SocketAddress* from,
              int* error) override;
  void SendTo(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to) override;
  // A time-to-live of 2 or less dies on the way (Network::SendShortLived).
  void SendToWithTtl(intptr_t handle, const uint8_t* data, int length, const SocketAddress& to,
                     int ttl) override;
  void Close(intptr_t handle) override;
  bool Resolve(const char* host, uint32_t* ip) override;

 private:
  Network* network_;
  uint32_t ip_;
  int32_t fail_open_ = 0;
  int error_code_ = 0;
  int errors_left_ = 0;
  bool silent_ = false;
};

// Dotted text to a network-order address, for tests.
uint32_t Ip(const char* text);

// A raw peer datagram: the 12-byte header (its length field the payload's size) and payload.
std::vector<uint8_t> Datagram(uint32_t id, uint16_t type, uint16_t seq, uint16_t of,
                              const std::vector<uint8_t>& payload);
// A 72-byte CONNECT payload naming the connecting side's port and address.
std::vector<uint8_t> ConnectBytes(uint16_t port, int32_t address,
                                  const char* host = "203.0.113.1");

}  // namespace sim
}  // namespace orb

#endif
