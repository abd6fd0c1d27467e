// Game datagrams through the group server with their sender named: what a player behind a
// home router needs when no direct path to another member exists.
//
// Relayed unicast, message type 9, member -> server, 4 + n bytes:
//   0  4  the receiving member's number, unsigned 32-bit little-endian (as path info and
//         relayed datagrams name members; path_info.h)
//   4  n  a link datagram (link.h), 12 < n <= 2060: port = the destination port on the
//         receiving member's machine, spare = the sending socket's port (0: unknown),
//         address = anything (the server writes the sender's address over it)
//
// Relayed datagram, message type 18, server -> member, 8 + n bytes. A member that asked for
// them (path report flag, path_info.h) gets every game datagram of another member this way,
// broadcasts included; every other member gets broadcasts as the bare type 8 link datagram
// as before, and never a type 18.
//   0  4  the sending member's number
//   4  1  kind: 0 a broadcast of the sender's game, 1 a datagram for this member alone
//   5  3  zero
//   8  n  the link datagram, its address field holding the address the server sees the
//         sender at (the sender's own claim is never passed on)
//
// Plain functions over caller buffers: no allocation, safe on any input.
#ifndef ORB_COMMON_RELAYED_UNICAST_H
#define ORB_COMMON_RELAYED_UNICAST_H

#include <stddef.h>
#include <stdint.h>

enum : size_t {
  kUnicastHeaderSize = 4,
  kRelayedHeaderSize = 8,
};
enum RelayedKind : uint8_t { kRelayedBroadcast = 0, kRelayedUnicast = 1 };

struct UnicastRequest {
  uint32_t to;           // the receiving member's number
  const uint8_t* link;   // points into the parsed buffer
  size_t link_length;
};

struct RelayedDatagram {
  uint32_t from;         // the sending member's number
  uint8_t kind;          // RelayedKind
  const uint8_t* link;   // points into the parsed buffer
  size_t link_length;
};

// The builders copy the link datagram: it may not overlap out.

// Writes a type 9 message for member `to` around the n-byte link datagram into out
// (capacity bytes). Returns 4 + n, or 0 (nothing written) when the datagram is not a link
// datagram of 13 to 2060 bytes or does not fit.
size_t BuildUnicastRequest(uint32_t to, const uint8_t* link, size_t n, uint8_t* out,
                           size_t capacity);

// Parses a type 9 message. false when it is not 4 bytes and a link datagram of 13 to 2060
// bytes behind them.
bool ParseUnicastRequest(const uint8_t* data, size_t length, UnicastRequest* out);

// Writes a type 18 message: the header, then the n-byte link datagram with its address
// field set to from_address (network order). Returns 8 + n, or 0 as BuildUnicastRequest.
size_t BuildRelayedDatagram(uint32_t from, uint8_t kind, uint32_t from_address,
                            const uint8_t* link, size_t n, uint8_t* out, size_t capacity);

// Parses a type 18 message. false when it is not an 8-byte header of a known kind and a
// link datagram of 13 to 2060 bytes.
bool ParseRelayedDatagram(const uint8_t* data, size_t length, RelayedDatagram* out);

#endif
