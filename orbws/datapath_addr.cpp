#include "datapath_addr.h"

#include <stdio.h>
#include <string.h>

namespace {

enum : size_t {
  kInetPortAt = 2,
  kInetAddressAt = 4,
  kIpxNetAt = 2,
  kIpxNodeAt = 6,
  kIpxSocketAt = 12,
};

const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }

}  // namespace

bool IsInetBroadcast(const void* sin) {
  const uint8_t* a = Bytes(sin) + kInetAddressAt;
  return a[0] == 0xFF && a[1] == 0xFF && a[2] == 0xFF && a[3] == 0xFF;
}

bool IsIpxBroadcast(const void* sipx) {
  const uint8_t* node = IpxNodeBytes(sipx);
  return node[0] == 0xFF && node[1] == 0xFF;
}

uint16_t IpxSocketValue(const void* sipx) {
  uint16_t v;
  memcpy(&v, Bytes(sipx) + kIpxSocketAt, 2);
  return v;
}

const uint8_t* IpxNetBytes(const void* sipx) { return Bytes(sipx) + kIpxNetAt; }

const uint8_t* IpxNodeBytes(const void* sipx) { return Bytes(sipx) + kIpxNodeAt; }

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

void WriteIpxForm(void* out, const uint8_t octets[4], uint16_t socket_value) {
  uint8_t form[kIpxAddrLen] = {};
  const uint16_t family = kFamilyIpx;
  memcpy(form, &family, 2);
  // Net number and the first two node bytes stay zero.
  memcpy(form + kIpxNodeAt + 2, octets, 4);
  memcpy(form + kIpxSocketAt, &socket_value, 2);
  memcpy(out, form, sizeof form);
}

uint16_t InetPortField(const void* sin) {
  uint16_t v;
  memcpy(&v, Bytes(sin) + kInetPortAt, 2);
  return v;
}

uint32_t InetAddressField(const void* sin) {
  uint32_t v;
  memcpy(&v, Bytes(sin) + kInetAddressAt, 4);
  return v;
}

void WriteInetForm(void* sin, uint32_t address_net, uint16_t port_net) {
  uint8_t form[kInetAddrLen] = {};
  const uint16_t family = kFamilyInet;
  memcpy(form, &family, 2);
  memcpy(form + kInetPortAt, &port_net, 2);
  memcpy(form + kInetAddressAt, &address_net, 4);
  memcpy(sin, form, sizeof form);
}
