// The link datagram: what the shim inside a game and the session library inside the
// launcher exchange over UDP on 127.0.0.1. A 12-byte header followed by the game's datagram:
//
//   offset 0  4 bytes  magic F9 F9 F9 F9
//   offset 4  2 bytes  port, little-endian on every host (the broadcast's destination port,
//                      or an IPX sa_socket value as it lies in memory)
//   offset 6  2 bytes  spare, ignored by every reader
//   offset 8  4 bytes  IPv4 address in network byte order (the sending machine)
//   offset 12 n bytes  the game's datagram, unchanged
//
// Plain functions over caller buffers: no allocation, no sockets, safe on any input.
#ifndef ORB_COMMON_LINK_H
#define ORB_COMMON_LINK_H

#include <stddef.h>
#include <stdint.h>

enum : uint32_t { LINK_MAGIC = 0xF9F9F9F9u };
enum : uint16_t { LINK_PORT = 3668 };
enum : size_t {
  LINK_HEADER_SIZE = 12,
  LINK_PAYLOAD_MAX = 2048,
  LINK_DATAGRAM_MAX = LINK_HEADER_SIZE + LINK_PAYLOAD_MAX,  // 2060, the shim's wrap buffer
};
// Text of the only address a link datagram is accepted from or sent to.
#define LINK_LOOPBACK_TEXT "127.0.0.1"

// Wraps n payload bytes into out (out_size bytes): magic, port, spare bytes zeroed,
// address (network order, as inet_addr returns it), payload. payload and out may not
// overlap. Returns the total length 12 + n, or -1 when n > LINK_PAYLOAD_MAX or the
// datagram does not fit out_size; nothing is written then.
int LinkWrap(uint8_t* out, size_t out_size, uint16_t port, uint32_t address_net,
             const void* payload, size_t n);

// True when at least the four magic bytes are there and they are LINK_MAGIC.
bool LinkHasMagic(const void* data, size_t length);

// True when the datagram is at least LINK_HEADER_SIZE bytes and begins with LINK_MAGIC.
bool LinkIsDatagram(const void* data, size_t length);

// The port field, read and written as little-endian whatever the host. The caller
// guarantees at least LINK_HEADER_SIZE bytes.
uint16_t LinkGetPort(const void* header);
void LinkSetPort(void* header, uint16_t port);

// The address field, in network byte order (the four bytes as they lie in the datagram,
// read into a uint32_t as in_addr.s_addr holds them).
uint32_t LinkGetAddress(const void* header);
void LinkSetAddress(void* header, uint32_t address_net);

#endif
