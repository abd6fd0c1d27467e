// Byte forms of the two socket addresses that the shim's datagram paths read and write.
// Portable: no Winsock header, only the layouts as they lie in the game's memory.
//
//   sockaddr_in, 16 bytes    0 family (host order)  2 port (network order)
//                            4 IPv4 address (network order)  8 eight zero bytes
//   SOCKADDR_IPX, 14 bytes   0 family (6)  2 sa_netnum[4]  6 sa_nodenum[6]
//                            12 sa_socket (16-bit, as the game stored it)
//
// An emulated IPX address stands for an IPv4 address and port: node 00 00 a b c d for
// a.b.c.d, and sa_socket holding the port number (bytes 2C 01 for port 300).
#ifndef ORBWS_DATAPATH_ADDR_H
#define ORBWS_DATAPATH_ADDR_H

#include <stddef.h>
#include <stdint.h>

enum : int {
  kInetAddrLen = 16,  // sizeof(sockaddr_in)
  kIpxAddrLen = 14,   // sizeof(SOCKADDR_IPX)
};
enum : uint16_t {
  kFamilyInet = 2,  // AF_INET
  kFamilyIpx = 6,   // AF_IPX
};
// Room for a dotted IPv4 text and its terminator, with spare.
enum : size_t { kAddressTextSize = 64 };

// True when the address field of a sockaddr_in is 255.255.255.255. Subnet-directed
// broadcasts (a.b.c.255) are not launcher broadcasts.
bool IsInetBroadcast(const void* sin);

// True when the first two node bytes of a SOCKADDR_IPX are FF FF; nothing else counts.
bool IsIpxBroadcast(const void* sipx);

// The sa_socket field as the 16-bit value it holds in memory.
uint16_t IpxSocketValue(const void* sipx);

// Node bytes 0..5 and net bytes 0..3 of a SOCKADDR_IPX, for the trace.
const uint8_t* IpxNetBytes(const void* sipx);
const uint8_t* IpxNodeBytes(const void* sipx);

// "a.b.c.d" made from node bytes 2..5 of a SOCKADDR_IPX.
void IpxNodeIpv4Text(const void* sipx, char (&text)[kAddressTextSize]);

// Parses dotted text into four octets; false (octets all zero) when the text is null or
// not four numbers of 0..255 separated by dots.
bool ParseDottedOctets(const char* text, uint8_t octets[4]);

// Writes the 14-byte emulated IPX form: family 6, net 0, node 00 00 and the octets,
// sa_socket = socket_value stored as a 16-bit value.
void WriteIpxForm(void* out, const uint8_t octets[4], uint16_t socket_value);

// Port field (network order, as a 16-bit value in memory) of a sockaddr_in.
uint16_t InetPortField(const void* sin);
// Address field of a sockaddr_in, as in_addr.s_addr holds it.
uint32_t InetAddressField(const void* sin);

// Fills a sockaddr_in: family AF_INET, port and address already in network order, the
// eight trailing bytes zeroed.
void WriteInetForm(void* sin, uint32_t address_net, uint16_t port_net);

#endif
