// The IPX address mapping of the IPX emulation: an emulated IPX address stands for an IPv4
// address and port. Pure byte work over the platform's record layouts, no Winsock calls:
//
//   SOCKADDR_IPX (14 bytes)           sockaddr_in (16 bytes)
//   0  sa_family   6 (AF_IPX)         0  sin_family 2 (AF_INET)
//   2  sa_netnum   00 00 00 00        2  sin_port   network order
//   6  sa_nodenum  00 00 a b c d      4  sin_addr   a b c d
//   12 sa_socket   the port's two     8  zero       8 bytes
//                  bytes reversed
//
// sa_socket bytes 2C 01 are UDP port 300 (port bytes 01 2C): read as a little-endian number,
// sa_socket is the port number.
#ifndef ORB_ORBWS_IPXADDR_H
#define ORB_ORBWS_IPXADDR_H

#include <stddef.h>
#include <stdint.h>

enum : size_t { IPX_ADDR_SIZE = 14, INET_ADDR_SIZE = 16 };
enum : uint16_t { IPX_FAMILY = 6, INET_FAMILY = 2 };

// Byte offsets inside the two records.
enum : size_t {
  IPX_OFF_FAMILY = 0, IPX_OFF_NETNUM = 2, IPX_OFF_NODENUM = 6, IPX_OFF_SOCKET = 12,
  INET_OFF_FAMILY = 0, INET_OFF_PORT = 2, INET_OFF_ADDR = 4,
};

// The 16-bit fields as they lie in memory (host order reads of the record's bytes).
uint16_t IpxFamily(const void* ipx);
uint16_t IpxSocketRaw(const void* ipx);
uint16_t InetPortRaw(const void* sin);
// Address fields as s_addr holds them (the four bytes in network order).
uint32_t InetAddressNet(const void* sin);
// Node bytes 2 to 5, the IPv4 address an emulated node stands for, as s_addr holds it.
uint32_t IpxNodeAddressNet(const void* ipx);
// True when the first two node bytes are FF FF: a broadcast in the IPX emulation.
bool IpxIsBroadcastNode(const void* ipx);

// The mapping between the two 16-bit fields: the two bytes swap places. Both directions are
// the same swap; the two names say which way a caller goes.
uint16_t IpxSocketFromPortRaw(uint16_t sin_port_raw);
uint16_t PortRawFromIpxSocket(uint16_t sa_socket_raw);

// Writes the emulated IPX address for an IPv4 address (s_addr form) and an sa_socket value
// (as it will lie in memory): family 6, net 0, node 00 00 + the address bytes. 14 bytes.
void IpxWriteEmulated(void* ipx, uint32_t address_net, uint16_t sa_socket_raw);

// Writes a sockaddr_in: family 2, the port field and address as given (raw / s_addr form),
// zero padding. 16 bytes.
void InetWrite(void* sin, uint16_t port_raw, uint32_t address_net);

// The four bytes of an s_addr-form address, in their dotted order.
void AddressOctets(uint32_t address_net, uint8_t out[4]);

// The address that stands for this machine in an emulated IPX node, from its count
// addresses in list order: the first public one, else the first private one (10.x,
// 172.16-31.x, 192.168.x, 100.64-127.x); never 0.x, loopback, link-local or 224.x and above.
// 0 when none qualifies.
uint32_t ChooseNodeAddress(const uint32_t* addresses, int count);

#endif
