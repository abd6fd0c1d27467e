// The IPX socket registry: which of the game's socket handles began as IPX sockets (and are
// UDP or TCP sockets underneath). Membership is the only thing that marks a socket as IPX.
// A fixed table of 1024 handles in the order they were added; every operation writes its
// trace lines from "wsock32\socktrak" and runs under one recursive lock, so game threads
// calling socket, closesocket, WSAStartup and the IPX-aware calls at once never see the table
// half-changed. Portable: no Winsock types.
#ifndef ORB_ORBWS_SOCKTRAK_H
#define ORB_ORBWS_SOCKTRAK_H

enum : int { IPX_SOCK_MAX = 1024 };

// What the emulated socket is underneath.
enum IpxSockKind {
  IPX_KIND_NONE = 0,      // not an emulated IPX socket
  IPX_KIND_DATAGRAM = 1,  // asked for with NSPROTO_IPX: a UDP socket
  IPX_KIND_STREAM = 2,    // asked for with any other protocol (SPX, SPXII): a TCP socket
};

// Position of handle counted from 1, or 0 when absent. Traces the search.
int FindIPXSock(int handle);
// 1 when added; 0 when already present or the table is full (the latter silently).
int AddIPXSock(int handle, IpxSockKind kind = IPX_KIND_DATAGRAM);
// 1 when removed (later entries move up, keeping their order); 0 when absent.
int DeleteIPXSock(int handle);
// Empties the table.
void DeleteAllIPXSock();

// The kind recorded for handle, IPX_KIND_NONE when absent. Writes no trace line.
IpxSockKind IPXSockKind(int handle);
// Number of entries, and the entry at index (counted from 0; -1 out of range). No trace line.
int IPXSockCount();
int IPXSockAt(int index);

// Holds the registry's lock for a scope, for callers that must look up a handle and act on
// the answer before another thread changes it. The lock is recursive: the operations above
// may be called while it is held.
class SocktrakGuard {
 public:
  SocktrakGuard();
  ~SocktrakGuard();
  SocktrakGuard(const SocktrakGuard&) = delete;
  SocktrakGuard& operator=(const SocktrakGuard&) = delete;
};

#endif
