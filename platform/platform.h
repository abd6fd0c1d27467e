// The thin platform layer: UDP sockets, host names, a monotonic clock and sleeping, with
// Winsock 1.1 on Windows and BSD sockets elsewhere behind one plain interface. No Winsock
// or BSD header leaks out of here; everything above this file is portable.
//
// Conventions: IPv4 addresses are 32-bit values in network byte order (as in_addr.s_addr
// holds them, as inet_addr returns them); ports are in host byte order. Calls that fail
// return the value stated and leave the platform's error code for SocketLastError().
#ifndef ORB_PLATFORM_PLATFORM_H
#define ORB_PLATFORM_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

namespace orb {

// A socket handle: SOCKET on Windows, a file descriptor elsewhere.
typedef intptr_t SocketHandle;
const SocketHandle kInvalidSocket = -1;

// An IPv4 UDP socket address.
struct SocketAddress {
  uint32_t ip;    // network byte order
  uint16_t port;  // host byte order
};
inline bool operator==(const SocketAddress& a, const SocketAddress& b) {
  return a.ip == b.ip && a.port == b.port;
}

// The all-ones address: what ParseIPv4 returns for text that is not dotted IPv4.
const uint32_t kAddressNone = 0xFFFFFFFFu;

// Starts Windows Sockets 1.1 (version word 0x0101) unless *started is already true; sets
// *started on success. Returns true when sockets are usable. Nothing to start natively.
// Each caller keeps its own flag, so two start-ups from two places are two start-ups.
bool SocketsStartup(bool* started);

// The error code of the latest failed socket call on this thread (WSAGetLastError, errno).
int SocketLastError();
// True for the "would block" error of a non-blocking socket.
bool SocketErrorWouldBlock(int error);
// True for a connection reset, which Windows reports on a UDP receive after an earlier
// datagram drew an ICMP port-unreachable. It concerns an old datagram, not the socket.
bool SocketErrorConnReset(int error);

// Creates an IPv4 datagram socket, not inherited by processes this one starts.
// kInvalidSocket on failure.
SocketHandle UdpOpen();
// Binds to ip (network order; 0 for every interface) and port (0: the platform chooses).
bool UdpBind(SocketHandle socket, uint32_t ip, uint16_t port);
// Reads back the bound port. false when the query fails.
bool UdpBoundPort(SocketHandle socket, uint16_t* port);
// The local address (network order) the system would send from to reach ip: a fresh datagram
// socket is connected there (which sends nothing) and its name read. For one of this
// machine's own addresses that is the address itself. false when the system cannot tell.
bool LocalAddressToward(uint32_t ip, uint32_t* local);
// Switches the socket to non-blocking mode (FIONBIO 1). false on failure.
bool UdpSetNonBlocking(SocketHandle socket);
// Waits up to timeout_ms (0: a pure query) until at least one of count sockets has a
// datagram; kInvalidSocket entries are left out. Returns how many are readable, with
// readable[i] set for each, 0 when the time ran out, -1 on failure (a closed socket).
int UdpWaitReadable(const SocketHandle* sockets, bool* readable, int count, uint32_t timeout_ms);
// The same for one socket: 1 readable, 0 not, -1 error.
inline int UdpWaitReadable(SocketHandle socket, uint32_t timeout_ms) {
  bool readable = false;
  return UdpWaitReadable(&socket, &readable, 1, timeout_ms);
}
// Reads one datagram into buffer. Returns its length, or -1 on failure. A datagram larger
// than capacity fails on every platform with the message-size error (WSAEMSGSIZE, EMSGSIZE)
// and is consumed. A non-blocking socket with nothing pending fails with "would block".
int UdpReceiveFrom(SocketHandle socket, void* buffer, int capacity, SocketAddress* from);
// Sends one datagram. Returns the bytes sent, or -1 on failure.
int UdpSendTo(SocketHandle socket, const void* data, int length, const SocketAddress& to);
// Sends one datagram with the IP time-to-live set to ttl for it alone (the socket's own
// is put back afterwards). Returns the bytes sent, or -1 on failure.
int UdpSendToWithTtl(SocketHandle socket, const void* data, int length, const SocketAddress& to,
                     int ttl);
// Closes the socket; kInvalidSocket is ignored.
void UdpClose(SocketHandle socket);
// Connects a UDP socket to one address: it then sends there with UdpSend and hears of
// that address refusing (UdpRefused). false on failure.
bool UdpConnect(SocketHandle socket, const SocketAddress& to);
// Sends one datagram (0 bytes allowed) on a connected socket. Bytes sent, or -1.
int UdpSend(SocketHandle socket, const void* data, int length);
// True when a connected, non-blocking socket has heard that nothing listens at its
// address (an ICMP port unreachable, reported as a failed receive or as the socket's
// pending error, whichever the platform uses). Reads and discards what is pending.
bool UdpRefused(SocketHandle socket);

// Dotted IPv4 text to an address (inet_addr). kAddressNone when text is not dotted IPv4
// (note that "255.255.255.255" also gives kAddressNone, as with inet_addr).
uint32_t ParseIPv4(const char* text);
// Writes "a.b.c.d" (each byte with %u) into out, which needs 16 bytes. Returns out.
char* FormatIPv4(uint32_t ip, char* out, size_t size);
// Looks a host name up (gethostbyname on Windows, getaddrinfo elsewhere) and writes up to
// max IPv4 addresses in the order given. Returns how many were written, 0 when the name is
// unknown. May block on the platform's resolver.
int LookupHostIPv4(const char* name, uint32_t* addresses, int max);
// Writes this machine's host name into out (size bytes, NUL-terminated). false on failure.
bool LocalHostName(char* out, int size);

// Milliseconds on a clock that never jumps with the wall clock (QueryPerformanceCounter,
// CLOCK_MONOTONIC). Only differences mean anything.
uint64_t MonotonicMs();
// Sleeps for at least ms milliseconds (0 yields).
void SleepMs(uint32_t ms);

}  // namespace orb

#endif
