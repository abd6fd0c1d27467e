// Byte layout of peer datagrams: the 12-byte header and the control payloads. Every
// integer is little-endian on the wire whatever the host. Plain functions over caller
// buffers; the caller guarantees the sizes stated.
#ifndef ORB_TRANSPORT_WIRE_H
#define ORB_TRANSPORT_WIRE_H

#include <stdint.h>

#include "bytes.h"

namespace orb {

struct PeerHeader {
  uint32_t id;
  uint16_t type;
  uint16_t seq;
  uint16_t of;
  uint16_t length;
};

// 12 bytes.
void WritePeerHeader(uint8_t* out, const PeerHeader& h);
PeerHeader ReadPeerHeader(const uint8_t* in);

// How many fragments a message of length bytes (not negative) travels in: length / 1400 + 1,
// so 1400 bytes give two fragments, the second empty.
inline int32_t FragmentCount(int32_t length) { return length / 1400 + 1; }

// The 72-byte CONNECT payload: version bytes 0 and 2, host (at most 63 characters, the rest
// of the 64-byte field zeroed), the endpoint's port, the connecting side's address.
void WriteConnectPayload(uint8_t* out, const char* host, uint16_t port, int32_t address);

struct ConnectPayload {
  uint8_t version_first;
  uint8_t version_second;
  char host[65];  // the 64-byte field, always NUL-terminated here
  uint16_t port;
  int32_t address;
};
ConnectPayload ReadConnectPayload(const uint8_t* in);

// ACKNOWLEDGE payload (8 bytes): id, type, and the fragment's seq in the reserved bytes 6-7
// (0 from a peer that leaves them empty).
void WriteAckPayload(uint8_t* out, uint32_t id, uint16_t type, uint16_t seq);

}  // namespace orb

#endif
