// The link datagram: what the shim inside a game and the session library inside the
// launcher exchange over UDP on 127.0.0.1. A 12-byte header followed by the game's datagram:
//
//   offset 0  4 bytes  magic F9 F9 F9 F9
//   offset 4  2 bytes  port, little-endian on every host (the broadcast's destination port,
//                      or an IPX sa_socket value as it lies in memory)
//   offset 6  2 bytes  source port, little-endian: the UDP port of the game socket that sent
//                      the datagram (for an IPX socket the port underneath, whose bytes
//                      swapped are its socket number); 0 when unknown
//   offset 8  4 bytes  IPv4 address in network byte order (the sending machine)
//   offset 12 n bytes  the game's datagram, unchanged
//
// The source port lives in what the first form of the link left spare ("no reader looks at
// these two bytes"), so a peer built to that form writes nothing there or zeroes. The shim
// writes 0; the sending session library stamps the port its link socket saw the datagram come
// from, as it stamps the address. A receiving shim reports the payload as coming from the
// address and that port, and from the port field when the source port is 0 (as before: a
// game then sees the broadcast coming from the port it was sent to).
//
// A second form on the same link, the socket notice, goes from the shim to its own session
// library only. It says that a game datagram socket on this machine is bound (or in use) or
// closed, so that the session library hands relayed datagrams only to ports a game uses, and
// to the address such a socket is bound to. It begins with LINK_NOTICE_MAGIC, not LINK_MAGIC,
// so a session library that knows only link datagrams drops it as it drops anything without
// the magic:
//
//   offset 0  4 bytes  F9 F9 F9 F6
//   offset 4  2 bytes  the socket's local UDP port, little-endian (never 0)
//   offset 6  2 bytes  what happened, little-endian: 1 bound or in use, 2 closed
//   offset 8  4 bytes  the address the socket is bound to, network byte order (0 for every
//                      address of the machine)
//
// From the shim the address field is 127.0.0.1 for a broadcast; for a datagram the game sent
// to a group member the session library routes (route_table.h) it is that member's address,
// with the destination port in the port field; with port 0 it is a notice about that member
// (member_notice.h).
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

// Wraps n payload bytes into out (out_size bytes): magic, port, source port 0 (unknown),
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

// The source port field (offset 6), little-endian whatever the host; 0 is "unknown". The
// caller guarantees at least LINK_HEADER_SIZE bytes.
uint16_t LinkGetSourcePort(const void* header);
void LinkSetSourcePort(void* header, uint16_t port);

// The address field, in network byte order (the four bytes as they lie in the datagram,
// read into a uint32_t as in_addr.s_addr holds them).
uint32_t LinkGetAddress(const void* header);
void LinkSetAddress(void* header, uint32_t address_net);

// ---- socket notices ----------------------------------------------------------------------

// Bytes F9 F9 F9 F6 read as a little-endian number, as the byte helpers read the magic.
enum : uint32_t { LINK_NOTICE_MAGIC = 0xF6F9F9F9u };
enum : size_t { LINK_NOTICE_SIZE = 12 };
enum LinkNoticeKind : uint16_t { kNoticeBound = 1, kNoticeClosed = 2 };

struct LinkNotice {
  LinkNoticeKind kind;
  uint16_t port;         // host order, never 0
  uint32_t address_net;  // bound address, network order; 0 for every address
};

// Writes the 12-byte notice into out (out_size bytes). Returns LINK_NOTICE_SIZE, or -1 when
// out is too small, the port is 0 or the kind unknown; nothing is written then.
int LinkBuildNotice(uint8_t* out, size_t out_size, const LinkNotice& notice);

// Reads a notice: true when the datagram is exactly LINK_NOTICE_SIZE bytes, begins with
// LINK_NOTICE_MAGIC, names a port other than 0 and a known kind. false (out unchanged)
// for anything else.
bool LinkParseNotice(const void* data, size_t length, LinkNotice* out);

#endif
