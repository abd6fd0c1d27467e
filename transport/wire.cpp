#include "wire.h"

#include <string.h>

namespace orb {

void WritePeerHeader(uint8_t* out, const PeerHeader& h) {
  WriteU32(out, h.id);
  WriteU16(out + 4, h.type);
  WriteU16(out + 6, h.seq);
  WriteU16(out + 8, h.of);
  WriteU16(out + 10, h.length);
}

PeerHeader ReadPeerHeader(const uint8_t* in) {
  PeerHeader h;
  h.id = ReadU32(in);
  h.type = ReadU16(in + 4);
  h.seq = ReadU16(in + 6);
  h.of = ReadU16(in + 8);
  h.length = ReadU16(in + 10);
  return h;
}

void WriteConnectPayload(uint8_t* out, const char* host, uint16_t port, int32_t address) {
  memset(out, 0, 72);
  WriteU16(out, 0x0200);  // version (0,2) as one little-endian word
  size_t n = strlen(host);
  if (n > 63) n = 63;
  memcpy(out + 2, host, n);
  WriteU16(out + 66, port);
  WriteU32(out + 68, static_cast<uint32_t>(address));
}

ConnectPayload ReadConnectPayload(const uint8_t* in) {
  ConnectPayload p;
  p.version_first = in[0];
  p.version_second = in[1];
  memcpy(p.host, in + 2, 64);
  p.host[64] = '\0';
  p.port = ReadU16(in + 66);
  p.address = static_cast<int32_t>(ReadU32(in + 68));
  return p;
}

void WriteAckPayload(uint8_t* out, uint32_t id, uint16_t type, uint16_t seq) {
  WriteU32(out, id);
  WriteU16(out + 4, type);
  WriteU16(out + 6, seq);
}

}  // namespace orb
