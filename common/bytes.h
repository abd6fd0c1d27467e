// Little-endian integers in byte buffers. Every multi-byte integer on this system's wires
// (peer datagrams, join and relay records, the link header's port, the shim's socket-option
// answers) is little-endian whatever the host; these are the only places that spell it out.
// The caller guarantees the bytes are there.
#ifndef ORB_COMMON_BYTES_H
#define ORB_COMMON_BYTES_H

#include <stdint.h>

namespace orb {

inline uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace orb

#endif
