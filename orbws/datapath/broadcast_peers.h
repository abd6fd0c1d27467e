// The game's datagram sockets connected to a broadcast destination (255.255.255.255, or an IPX
// node beginning FF FF): the shim does not connect the real socket there, it remembers the
// destination here, and send() on such a socket goes to the session library as sendto to that
// destination would. A fixed table under one lock; an empty table costs no lock. Portable.
#ifndef ORBWS_DATAPATH_BROADCAST_PEERS_H
#define ORBWS_DATAPATH_BROADCAST_PEERS_H

#include <stdint.h>

enum : int { kBroadcastPeersMax = 64, kBroadcastPeerAddressMax = 16 };

struct BroadcastPeer {
  uint16_t port_field;  // the link header's port field for this destination
  int length;           // bytes of the destination as the game gave it (14 or 16)
  uint8_t address[kBroadcastPeerAddressMax];  // the destination, for getpeername
};

// Remembers handle's destination (replacing an earlier one). False when the table is full
// or length is not 1..16.
bool RememberBroadcastPeer(int handle, uint16_t port_field, const void* address, int length);
// True, with *out filled when out is not null, when handle is connected to a broadcast.
bool FindBroadcastPeer(int handle, BroadcastPeer* out);
// Forgets handle (closed, connected elsewhere, or a new socket that got the handle).
void ForgetBroadcastPeer(int handle);
int BroadcastPeerCount();

#endif
