#include "ipx/address.h"

#include <string.h>

namespace {

uint16_t Read16(const void* p, size_t off) {
  uint16_t v;
  memcpy(&v, static_cast<const uint8_t*>(p) + off, 2);
  return v;
}

uint32_t Read32(const void* p, size_t off) {
  uint32_t v;
  memcpy(&v, static_cast<const uint8_t*>(p) + off, 4);
  return v;
}

void Write16(void* p, size_t off, uint16_t v) { memcpy(static_cast<uint8_t*>(p) + off, &v, 2); }

}  // namespace

uint16_t IpxFamily(const void* ipx) { return Read16(ipx, IPX_OFF_FAMILY); }
uint16_t IpxSocketRaw(const void* ipx) { return Read16(ipx, IPX_OFF_SOCKET); }
uint16_t InetPortRaw(const void* sin) { return Read16(sin, INET_OFF_PORT); }
uint32_t InetAddressNet(const void* sin) { return Read32(sin, INET_OFF_ADDR); }
uint32_t IpxNodeAddressNet(const void* ipx) { return Read32(ipx, IPX_OFF_NODENUM + 2); }

bool IpxIsBroadcastNode(const void* ipx) {
  const uint8_t* node = static_cast<const uint8_t*>(ipx) + IPX_OFF_NODENUM;
  return node[0] == 0xFF && node[1] == 0xFF;
}

uint16_t IpxSocketFromPortRaw(uint16_t sin_port_raw) {
  return static_cast<uint16_t>((sin_port_raw >> 8) | (sin_port_raw << 8));
}

uint16_t PortRawFromIpxSocket(uint16_t sa_socket_raw) {
  return IpxSocketFromPortRaw(sa_socket_raw);
}

void IpxWriteEmulated(void* ipx, uint32_t address_net, uint16_t sa_socket_raw) {
  uint8_t* p = static_cast<uint8_t*>(ipx);
  memset(p, 0, IPX_ADDR_SIZE);
  Write16(p, IPX_OFF_FAMILY, IPX_FAMILY);
  memcpy(p + IPX_OFF_NODENUM + 2, &address_net, 4);
  Write16(p, IPX_OFF_SOCKET, sa_socket_raw);
}

void InetWrite(void* sin, uint16_t port_raw, uint32_t address_net) {
  uint8_t* p = static_cast<uint8_t*>(sin);
  memset(p, 0, INET_ADDR_SIZE);
  Write16(p, INET_OFF_FAMILY, INET_FAMILY);
  Write16(p, INET_OFF_PORT, port_raw);
  memcpy(p + INET_OFF_ADDR, &address_net, 4);
}

void AddressOctets(uint32_t address_net, uint8_t out[4]) { memcpy(out, &address_net, 4); }

uint32_t ChooseNodeAddress(const uint32_t* addresses, int count) {
  uint32_t first_private = 0;
  for (int i = 0; addresses != nullptr && i < count; ++i) {
    uint8_t o[4];
    AddressOctets(addresses[i], o);
    const bool usable = o[0] != 0 && o[0] != 127 && !(o[0] == 169 && o[1] == 254) && o[0] < 224;
    if (!usable) continue;
    const bool own_network = o[0] == 10 || (o[0] == 172 && (o[1] & 0xF0) == 16) ||
                             (o[0] == 192 && o[1] == 168) || (o[0] == 100 && (o[1] & 0xC0) == 64);
    if (!own_network) return addresses[i];
    if (first_private == 0) first_private = addresses[i];
  }
  return first_private;
}
