// The decisions of the shim's datagram paths, apart from any socket: which road a send
// takes, how a broadcast becomes a link datagram, when a received datagram is the session
// library's and how it is unwrapped, and which source record a receive may use.
// Portable and natively tested; the exports in send.cpp, recv.cpp and
// wsarecv.cpp only call the real library around these.
#ifndef ORBWS_DATAPATH_PLAN_H
#define ORBWS_DATAPATH_PLAN_H

#include <stddef.h>
#include <stdint.h>

#include "link.h"

// The Winsock error numbers the shim answers with itself.
enum : int {
  kWsaEFault = 10014,    // WSAEFAULT
  kWsaEMsgSize = 10040,  // WSAEMSGSIZE
};

// ---- sending ---------------------------------------------------------------------------

enum class SendPath {
  kPassThrough,     // to the real library unchanged
  kInetBroadcast,   // TCP/IP socket to 255.255.255.255: wrapped, sent to the launcher
  kIpxBroadcast,    // IPX socket to node FF FF ..: wrapped, sent to the launcher
  kIpxDirect,       // IPX socket to one node: converted to its IPv4 address and port
  kInetMember,      // TCP/IP socket to a group member the session library routes: wrapped
                    // with the member's address, sent to the launcher
  kIpxMember,       // IPX socket to such a member's node: likewise
  kBadDestination,  // the path would read a destination the caller did not give: WSAEFAULT
};

// Chooses the road of one sendto. An IPX socket always reads its destination, so a null
// one or one shorter than 14 bytes is refused. A TCP/IP socket reads it only to test for
// a broadcast, and only when 16 bytes are there; otherwise the real library gets the call
// as it came (a connected socket may send with no destination, and Winsock answers a short
// one itself). A datagram to one address that the session library's member route table
// (route_table.h; null: none) lists goes to the launcher, so that it reaches a member behind
// a home router; one larger than a link datagram carries goes out as before.
SendPath ChooseSendPath(bool ipx_socket, const void* to, int tolen,
                        const void* route_table = nullptr, int len = 0);

// The IPv4 address (network order) a destination stands for: a sockaddr_in's address, or
// the last four node bytes of an emulated IPX address.
uint32_t DestinationIpv4(bool ipx_socket, const void* to);

// Checks a broadcast before it is wrapped: 0 when it fits, kWsaEMsgSize for more than
// LINK_PAYLOAD_MAX bytes, kWsaEFault for a negative length or missing data.
int BroadcastRefusal(const void* data, int len);

// A link datagram under construction: the 2060-byte buffer the broadcast is wrapped into.
struct LinkBuffer {
  uint8_t bytes[LINK_DATAGRAM_MAX];
};

// Wraps len bytes of data with port field port_field and address loopback_net (network
// order). Returns 12 + len, or -1 when BroadcastRefusal refuses it (nothing written).
int WrapBroadcast(LinkBuffer* out, uint16_t port_field, uint32_t loopback_net,
                  const void* data, int len);

// ---- receiving -------------------------------------------------------------------------

// The launcher test on the source that the real receive reported: port LINK_PORT (in
// network order in the record) and the dotted text "127.0.0.1". The port half alone is
// IsLinkPortSource, which needs no text; callers ask it first.
bool IsLinkPortSource(const void* sin);
bool IsLauncherSource(const void* sin, const char* address_text);

// What an accepted link datagram says about where its payload came from.
struct LinkOrigin {
  uint32_t address_net;  // the header's address field, unchanged
  uint16_t port_field;   // the header's port field, host order; htons gives the source port
};

// Unwraps a link datagram of r bytes at the start of buf: the payload moves to the start
// (the regions overlap) and the new count r - 12 is returned, with origin filled. Returns
// -1 and changes nothing when the bytes fail the content test (fewer than 12, or no magic).
int UnwrapLinkDatagram(uint8_t* buf, int r, LinkOrigin* origin);

// Where a receive puts the source it asks the real library for.
enum class SourcePlan {
  kGameRecord,  // the game's own record and length, unchanged (TCP/IP with a record)
  kOwnRecord,   // the shim's own 16-byte record; the game's is written afterwards (IPX)
  kOwnNoWrite,  // the shim's own record; the game asked for no source, none is written
  kFault,       // the game's record cannot hold the form to be written: WSAEFAULT
};

// recvfrom and WSARecvFrom: from is the game's source pointer, fromlen its length pointer.
// A null from means no source is wanted (Winsock allows it); the shim still needs the
// source for the launcher test, so it receives into its own record. Otherwise the record
// must have room for the form written into it, 16 bytes for TCP/IP and 14 for IPX, as
// Winsock requires (checked before the receive, so a refused datagram stays queued).
SourcePlan ChooseSourcePlan(bool ipx_socket, const void* from, const int* fromlen);

// WSARecvFrom rewrites only a receive that completes inside the call into one buffer:
// false for an overlapped record, a completion routine, other than exactly one buffer, or
// a missing byte-count or flags pointer. Those go to the real library as they came.
bool WsaRecvIsRewritable(bool overlapped, bool completion, unsigned buffer_count,
                         bool have_buffers, bool have_count, bool have_flags);

#endif
