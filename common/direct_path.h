// Direct datagrams between the session libraries of two members, sent from the endpoint
// each uses for its server connection to where the group server sees the other (or to a
// local candidate of the other's path report, path_info.h). They test whether a direct path
// exists and then carry game datagrams on it, so that the server is not in the way.
//
// 20-byte header, then what the kind adds:
//   0  4  magic 'o' 'r' 'b' 'd'
//   4  1  kind: 1 probe, 2 answer to a probe, 3 game datagram
//   5  1  zero
//   6  2  game datagram: the destination port on the receiver's machine; otherwise zero
//   8  2  game datagram: the sending socket's port (0: unknown); otherwise zero
//   10 2  zero
//   12 4  the sender's member number
//   16 4  the receiver's path key (from path info): a datagram without it is dropped
// Probe and answer, 16 more bytes (an answer is never larger than the probe it answers):
//   20 4  probe number          24 4  the prober's clock (ms) at sending, echoed back
//   28 4  answer: the address the probe came from      32 2  and its port      34 2 zero
// Game datagram: the game's bytes from offset 20, at most kDirectPayloadMax of them (larger
// ones take the server).
// Integers are little-endian; the address as it lies in memory (network byte order).
#ifndef ORB_COMMON_DIRECT_PATH_H
#define ORB_COMMON_DIRECT_PATH_H

#include <stddef.h>
#include <stdint.h>

enum DirectKind : uint8_t { kDirectProbe = 1, kDirectAnswer = 2, kDirectData = 3 };
enum : size_t {
  kDirectHeaderSize = 20,
  kDirectProbeSize = 36,
  // What a peer transport reads in one go (kReceiveBufferBytes) less the header.
  kDirectDatagramMax = 2048,
  kDirectPayloadMax = kDirectDatagramMax - kDirectHeaderSize,
};

struct DirectDatagram {
  uint8_t kind;
  uint16_t dest_port;   // data only
  uint16_t src_port;    // data only
  uint32_t sender;      // member number
  uint32_t key;         // the receiver's path key
  // Probe and answer.
  uint32_t probe;
  uint32_t stamp_ms;
  uint32_t seen_ip;     // answer only: network order
  uint16_t seen_port;   // answer only: host order
  // Data.
  const uint8_t* payload;  // points into the parsed buffer
  size_t payload_length;
};

// True when the datagram begins with the magic: cheap enough to run on every datagram that
// reaches a session library's endpoint from somewhere other than its server.
bool DirectIsOurs(const uint8_t* data, size_t length);

// Writes a probe or an answer (d.kind) into out. Returns kDirectProbeSize, or 0 when out is
// shorter or the kind is neither.
size_t BuildDirectProbe(const DirectDatagram& d, uint8_t* out, size_t capacity);

// Writes a game datagram of n payload bytes. Returns 20 + n, or 0 when n is above
// kDirectPayloadMax or it does not fit.
size_t BuildDirectData(uint32_t sender, uint32_t key, uint16_t dest_port, uint16_t src_port,
                       const uint8_t* payload, size_t n, uint8_t* out, size_t capacity);

// Parses any of the three kinds. false for a wrong magic or kind, a probe or answer that is
// not exactly kDirectProbeSize bytes, or data longer than kDirectDatagramMax.
bool ParseDirect(const uint8_t* data, size_t length, DirectDatagram* out);

#endif
