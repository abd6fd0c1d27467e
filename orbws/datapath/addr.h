// What the datagram paths read from socket addresses beyond the IPX address mapping
// (ipx/address.h): the broadcast test on a sockaddr_in, the bytes of an IPX destination for the
// trace, the dotted text of the IPv4 address an IPX node stands for, and the four octets of
// a dotted text. Portable: no Winsock header.
#ifndef ORBWS_DATAPATH_ADDR_H
#define ORBWS_DATAPATH_ADDR_H

#include <stddef.h>
#include <stdint.h>

#include "ipx/address.h"

enum : int {
  kInetAddrLen = static_cast<int>(INET_ADDR_SIZE),  // sizeof(sockaddr_in)
  kIpxAddrLen = static_cast<int>(IPX_ADDR_SIZE),    // sizeof(SOCKADDR_IPX)
};
// Room for a dotted IPv4 text and its terminator, with spare.
enum : size_t { kAddressTextSize = 64 };

// A port between host order and the network order a sockaddr_in holds it in (what htons and
// ntohs do, without calling into a Winsock library).
uint16_t PortRawFromHost(uint16_t port);
uint16_t PortHostFromRaw(uint16_t port_raw);
// 127.0.0.1 as s_addr holds it.
uint32_t LoopbackAddressNet();

// True when the address field of a sockaddr_in is 255.255.255.255. Subnet-directed
// broadcasts (a.b.c.255) are not launcher broadcasts.
bool IsInetBroadcast(const void* sin);

// Net bytes 0..3 and node bytes 0..5 of a SOCKADDR_IPX.
const uint8_t* IpxNetBytes(const void* sipx);
const uint8_t* IpxNodeBytes(const void* sipx);

// "a.b.c.d" made from node bytes 2..5 of a SOCKADDR_IPX.
void IpxNodeIpv4Text(const void* sipx, char (&text)[kAddressTextSize]);

// Parses dotted text into four octets; false (octets all zero) when the text is null or
// not four numbers of 0..255 separated by dots.
bool ParseDottedOctets(const char* text, uint8_t octets[4]);

#endif
