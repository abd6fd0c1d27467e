#include "datapath/addr.h"

#include <stdio.h>
#include <string.h>

uint16_t PortRawFromHost(uint16_t port) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port & 0xFF)};
  uint16_t raw;
  memcpy(&raw, bytes, 2);
  return raw;
}

uint16_t PortHostFromRaw(uint16_t port_raw) {
  uint8_t bytes[2];
  memcpy(bytes, &port_raw, 2);
  return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint32_t LoopbackAddressNet() {
  const uint8_t bytes[4] = {127, 0, 0, 1};
  uint32_t a;
  memcpy(&a, bytes, 4);
  return a;
}

bool IsInetBroadcast(const void* sin) { return InetAddressNet(sin) == 0xFFFFFFFFu; }

const uint8_t* IpxNetBytes(const void* sipx) {
  return static_cast<const uint8_t*>(sipx) + IPX_OFF_NETNUM;
}

const uint8_t* IpxNodeBytes(const void* sipx) {
  return static_cast<const uint8_t*>(sipx) + IPX_OFF_NODENUM;
}

void IpxNodeIpv4Text(const void* sipx, char (&text)[kAddressTextSize]) {
  const uint8_t* node = IpxNodeBytes(sipx);
  snprintf(text, sizeof text, "%u.%u.%u.%u", node[2], node[3], node[4], node[5]);
}

bool ParseDottedOctets(const char* text, uint8_t octets[4]) {
  memset(octets, 0, 4);
  if (text == nullptr) return false;
  unsigned v[4];
  char tail;
  if (sscanf(text, "%3u.%3u.%3u.%3u%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4) return false;
  for (unsigned x : v) {
    if (x > 255) return false;
  }
  for (int i = 0; i < 4; ++i) octets[i] = static_cast<uint8_t>(v[i]);
  return true;
}
