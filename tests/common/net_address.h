// Addresses as the shared formats and Winsock keep them, spelled out in tests.
#ifndef ORB_TESTS_COMMON_NET_ADDRESS_H
#define ORB_TESTS_COMMON_NET_ADDRESS_H

#include <stdint.h>
#include <string.h>

namespace orb_test {

// inet_addr("a.b.c.d") as it lies in memory: the bytes in dotted order.
inline uint32_t NetAddr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  memcpy(&v, bytes, 4);
  return v;
}

}  // namespace orb_test

#endif
