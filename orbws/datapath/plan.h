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
  kPassThrough,         // to the real library unchanged
  kInetBroadcast,       // TCP/IP socket to 255.255.255.255: wrapped, sent to the launcher
  kIpxBroadcast,        // IPX socket to node FF FF ..: wrapped, sent to the launcher
  kIpxDirect,           // IPX socket to one node: converted to its IPv4 address and port
  kBadDestination,      // the path would read a destination the caller did not give: WSAEFAULT
  kConnectedBroadcast,  // no destination on a socket connected to a broadcast: wrapped, sent
                        // to the launcher with the connected destination's port
  kInetMember,          // TCP/IP socket to a group member the session library routes:
                        // wrapped with the member's address, sent to the launcher
  kIpxMember,           // IPX socket to such a member's node: likewise
};

// Chooses the road of one sendto. A socket connected to a broadcast destination (connect
// below) sends a call without a destination to the launcher. Otherwise an IPX socket always
// reads its destination, so a null one or one shorter than 14 bytes is refused. A TCP/IP
// socket reads it only to test for a broadcast, and only when 16 bytes are there; otherwise
// the real library gets the call as it came (a connected socket may send with no
// destination, and Winsock answers a short one itself). A datagram to one address that the
// session library's member route table (route_table.h; null: none) lists goes to the
// launcher, so that it reaches a member behind a home router; one larger than a link
// datagram carries goes out as before.
SendPath ChooseSendPath(bool ipx_socket, const void* to, int tolen,
                        bool broadcast_connected = false, const void* route_table = nullptr,
                        int len = 0);

// The IPv4 address (network order) a destination stands for: a sockaddr_in's address, or
// the last four node bytes of an emulated IPX address.
uint32_t DestinationIpv4(bool ipx_socket, const void* to);

// ---- connecting ------------------------------------------------------------------------

enum class ConnectPath {
  kPassThrough,     // to the real library unchanged
  kInetBroadcast,   // a sockaddr_in of 255.255.255.255
  kIpxBroadcast,    // a SOCKADDR_IPX whose node begins FF FF, on an emulated IPX socket
};

// Chooses what connect does with name (namelen bytes) on a socket: a broadcast destination
// is not handed to the real library (a datagram socket connected there would send to the
// network and take datagrams only from that address); the shim remembers it instead, and
// send() then goes to the launcher as sendto to that destination does. Only destinations of
// the socket's own family and of full length count. The caller further requires a datagram
// socket.
ConnectPath ChooseConnectPath(bool ipx_socket, const void* name, int namelen);

// The port field of the link header for a broadcast destination (as sendto writes it): the
// port in host order for a sockaddr_in, the raw sa_socket value for a SOCKADDR_IPX.
uint16_t BroadcastPortField(ConnectPath path, const void* name);

// Checks a broadcast before it is wrapped: 0 when it fits, kWsaEMsgSize for more than
// LINK_PAYLOAD_MAX bytes, kWsaEFault for a negative length or missing data.
int BroadcastRefusal(const void* data, int len);

// A link datagram under construction: the 2060-byte buffer the broadcast is wrapped into.
struct LinkBuffer {
  uint8_t bytes[LINK_DATAGRAM_MAX];
};

// Where a link datagram is sent (network order), given the address the sending socket is
// bound to: that address for a socket bound to one of the machine's own addresses, else
// 127.0.0.1. The session library listens on every address; the road from an interface
// address to the loopback address is not there everywhere (Wine ties a socket bound to an
// interface address to that interface).
uint32_t LinkDestinationFor(uint32_t socket_address_net);

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
// The launcher test's second form, for a socket bound to one of the machine's own addresses:
// the session library sends to that address, so the datagram comes from it, port LINK_PORT.
// socket_address_net is the receiving socket's bound address (0 when it has none or is bound
// to every address: never a match).
bool IsLauncherOnSocketAddress(const void* sin, uint32_t socket_address_net);

// What an accepted link datagram says about where its payload came from.
struct LinkOrigin {
  uint32_t address_net;  // the header's address field, unchanged
  uint16_t port_field;   // the header's port field, host order: the port it was sent to
  uint16_t source_port;  // the header's source port, host order; 0 unknown
};

// The port the payload is reported from (host order): the sending socket's port when the
// header carries it, else the port it was sent to, as a peer that writes no source port
// leads the far game to see it.
uint16_t LinkOriginPort(const LinkOrigin& origin);

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
  kIgnore,      // a stream socket: no source is asked for, the game's record and length
                // stay as they are (Winsock ignores them on connection-oriented sockets)
};

// recvfrom and WSARecvFrom: from is the game's source pointer, fromlen its length pointer.
// On a stream socket both are ignored, as Winsock does. A null from means no source is
// wanted (Winsock allows it); the shim still needs the source for the launcher test, so it
// receives into its own record. Otherwise the record must have room for the form written
// into it, 16 bytes for TCP/IP and 14 for IPX, as Winsock requires of datagram sockets
// (checked before the receive, so a refused datagram stays queued).
SourcePlan ChooseSourcePlan(bool ipx_socket, bool stream, const void* from, const int* fromlen);

// True when the game gave a source record without room for the form written into it: only
// then does a TCP/IP socket's kind change the plan, so only then need it be asked for.
bool SourceRecordTooShort(bool ipx_socket, const void* from, const int* fromlen);

// WSARecvFrom rewrites only a receive that completes inside the call into one buffer:
// false for an overlapped record, a completion routine, other than exactly one buffer, or
// a missing byte-count or flags pointer. Those go to the real library as they came.
bool WsaRecvIsRewritable(bool overlapped, bool completion, unsigned buffer_count,
                         bool have_buffers, bool have_count, bool have_flags);

#endif
