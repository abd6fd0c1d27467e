// How members of a group learn where the others can be reached, so that two players behind
// home routers can open a direct path between them (message types 20 and 19). Addresses
// are IPv4 in network byte order as they lie in memory; every other integer little-endian.
//
// Path report, type 20, member -> server, 12 + 6c bytes; sent after the join. A member that
// never sends one is served exactly as before (relayed broadcasts as type 8, nothing else).
//   0  4  flags: bit 0 set = this member takes relayed datagrams (type 18) and path info
//         (type 19); other bits are zero and ignored
//   4  4  path key: a random number; direct datagrams to this member must carry it
//   8  1  c, local candidates that follow, at most 4
//   9  3  zero
//   12 6c each an address (4) and port (2) at which this member's server endpoint can be
//         reached from its own network (for members behind the same router)
//
// Path info, type 19, server -> member; sent to members whose report set bit 0, whenever
// the group or a report in it changes:
//   0  4  this member's number
//   4  4  the address the server sees this member at
//   8  2  and the port
//   10 2  k, the other reporting members of the group described next, at most 255
//   12    k entries of 16 + 6c bytes each:
//           0  4  the member's number     4 4  the address the server sees it at
//           8  2  and the port            10 1  flags: bit 0 as in its report
//           11 1  c, its local candidates (at most 4)
//           12 4  its path key            16 6c its local candidates
#ifndef ORB_COMMON_PATH_INFO_H
#define ORB_COMMON_PATH_INFO_H

#include <stddef.h>
#include <stdint.h>

enum : uint32_t { kPathTakesRelayed = 1u };
enum : size_t {
  kMaxPathCandidates = 4,
  kMaxPathPeers = 255,
  kPathReportHeaderSize = 12,
  kPathInfoHeaderSize = 12,
  kPathPeerHeaderSize = 16,
  kPathCandidateSize = 6,
  // The largest path info: every peer with every candidate.
  kPathInfoMax = kPathInfoHeaderSize +
                 kMaxPathPeers * (kPathPeerHeaderSize + kMaxPathCandidates * kPathCandidateSize),
};

// An IPv4 socket address: ip in network byte order, port in host order.
struct PathAddress {
  uint32_t ip;
  uint16_t port;
};

struct PathReport {
  uint32_t flags;
  uint32_t key;
  uint8_t count;  // candidates used
  PathAddress candidates[kMaxPathCandidates];
};

struct PathPeer {
  uint32_t member;
  PathAddress seen;  // where the server sees it
  uint8_t flags;
  uint32_t key;
  uint8_t count;
  PathAddress candidates[kMaxPathCandidates];
};

struct PathInfo {
  uint32_t member;   // the receiver's own number
  PathAddress seen;  // where the server sees the receiver
  uint16_t peer_count;
  PathPeer peers[kMaxPathPeers];
};

// Writes the report into out (capacity bytes). Returns its length, or 0 when count is
// above kMaxPathCandidates or it does not fit (nothing written).
size_t BuildPathReport(const PathReport& report, uint8_t* out, size_t capacity);
// Parses a report of exactly 12 + 6c bytes. false for any other length or c above 4.
bool ParsePathReport(const uint8_t* data, size_t length, PathReport* out);

// Writes the path info into out (capacity bytes; kPathInfoMax always suffices). Returns its
// length, or 0 when a count is out of bounds or it does not fit.
size_t BuildPathInfo(const PathInfo& info, uint8_t* out, size_t capacity);
// Parses path info whose length matches the entries it announces exactly. false otherwise.
bool ParsePathInfo(const uint8_t* data, size_t length, PathInfo* out);

#endif
