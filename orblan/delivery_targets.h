// Where the session library may hand a datagram that the group server relays to this
// machine: the game datagram sockets on this machine, by local port and the address each is
// bound to. The shim tells of each socket it binds and closes (socket notices, common/link.h),
// and a link datagram shows the socket it came from. A datagram for a port no game uses is
// not sent anywhere, so no member of a group can make this machine's session library send to
// an arbitrary local port.
//
// Delivery addresses: a socket bound to every address (0.0.0.0) receives what is sent to
// 127.0.0.1; a socket bound to one address (127.0.0.1, another loopback address, one of the
// machine's own) receives only what is sent to that address. Each distinct delivery address
// of a port gets one copy, so every socket on the port receives the datagram once.
//
// Shared by the relay worker (which learns) and the pump (which delivers): one lock.
#ifndef ORB_SESSION_DELIVERY_TARGETS_H
#define ORB_SESSION_DELIVERY_TARGETS_H

#include <stddef.h>
#include <stdint.h>

#include <mutex>

class DeliveryTargets {
 public:
  // Room for this many (address, port) pairs; what does not fit is not learned.
  enum : size_t { kMaxTargets = 256 };

  // A game socket was bound to address_net (network order; 0 every address) and port (host
  // order). False when the table is full or port is 0.
  bool Bound(uint32_t address_net, uint16_t port);
  // A link datagram came from address_net:port, a game socket in use: known from now on.
  // A pair already known keeps its count. False when the table is full or port is 0.
  bool Seen(uint32_t address_net, uint16_t port);
  // A game socket bound to address_net:port was closed. The pair is forgotten once no bound
  // socket is left on it; an unknown pair changes nothing.
  void Closed(uint32_t address_net, uint16_t port);

  // The addresses (network order) a datagram for port goes to, each once, at most max of
  // them; returns how many were written. 0 when no game socket uses the port.
  int AddressesFor(uint16_t port, uint32_t* out, int max) const;

  // Forgets everything (a new launch, the end of a session).
  void Clear();
  size_t Count() const;

 private:
  struct Target {
    uint32_t address_net;  // the delivery address, never 0
    uint16_t port;
    uint16_t sockets;      // bound sockets counted on the pair; 0 when only seen
  };
  // Index of the pair, or -1. The caller holds the lock.
  int Find(uint32_t address_net, uint16_t port) const;
  bool Add(uint32_t address_net, uint16_t port, uint16_t sockets);

  mutable std::mutex lock_;
  Target targets_[kMaxTargets] = {};
  size_t count_ = 0;
};

// The address a datagram for a socket bound to address_net is sent to: 127.0.0.1 for a socket
// bound to every address, the bound address itself otherwise.
uint32_t DeliveryAddressFor(uint32_t bound_address_net);

#endif
