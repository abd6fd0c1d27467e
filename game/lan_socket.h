// NetQuest's sockets, the way a game of the Winsock 1.1 era opens them: one UDP socket
// bound to the game's port with broadcasting allowed, and one IPX datagram socket bound to
// the game's IPX socket number. Windows only; the rest of the game never sees Winsock.
#ifndef NETQUEST_LAN_SOCKET_H
#define NETQUEST_LAN_SOCKET_H

#include <winsock.h>
#include <wsipx.h>

#include <cstdint>
#include <string>

#include "lan_game.h"

namespace netquest {

// A source or destination address of either transport.
struct LanAddress {
  union {
    sockaddr_in in;
    SOCKADDR_IPX ipx;
    sockaddr any;
  } u;
  int length = 0;
};

// "203.0.113.10:26900" for UDP; "00000000:0000CB00710A:4E51" (net:node:socket) for IPX.
std::string AddressText(Transport t, const LanAddress& a);

// The computer's own IPv4 address (network order): the first address of its host name that
// is neither 0.x.x.x nor loopback. INADDR_ANY when it has none.
unsigned long OwnAddress();

class LanSocket {
 public:
  explicit LanSocket(Transport t) : transport_(t) {}
  ~LanSocket();
  LanSocket(const LanSocket&) = delete;
  LanSocket& operator=(const LanSocket&) = delete;

  // Creates and binds the socket: UDP port, or IPX socket number (host order; 0: the system
  // picks one). With own_address, bound to the computer's own address (an IPX bind names its
  // node) instead of every address. On failure *call names the Winsock call that failed and
  // the result is its error code; 0 on success.
  int Open(uint16_t port_or_socket, bool own_address, const char** call);

  // Address the socket is known by (IPX: the address other games see us at).
  std::string LocalName() const;

  // To every game on the LAN at that UDP port or IPX socket number (host order):
  // 255.255.255.255, or IPX node FF FF FF FF FF FF. Returns 0 or the Winsock error.
  int Broadcast(const std::string& bytes, uint16_t port_or_socket);
  int SendTo(const LanAddress& to, const std::string& bytes);

  // One datagram into buf; returns its length, or -1 with *error set.
  int Receive(char* buf, int size, LanAddress* from, int* error);

  Transport transport() const { return transport_; }
  SOCKET handle() const { return s_; }

 private:
  Transport transport_;
  SOCKET s_ = INVALID_SOCKET;
};

}  // namespace netquest

#endif
