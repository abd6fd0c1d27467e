// The session library's side of play behind home routers: carries the local game's
// datagrams for one member to that member, directly when a direct path is up (peer_paths.h)
// and through the group server otherwise (types 9 and 18), and hands the game every other
// member's datagrams from an address it can answer (member_identities.h).
//
// The router owns no socket. Each call says what is to be done in a RouterOutput, which the
// caller carries out after the call has returned and released the router's lock: game
// datagrams to the link, datagrams on the server endpoint, messages to the server. So the
// relay worker (game datagrams) and the launcher's thread (server messages, the endpoint,
// the timer) can both call it, and its lock is never held while the transport's is taken.
#ifndef ORB_SESSION_MEMBER_ROUTER_H
#define ORB_SESSION_MEMBER_ROUTER_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <mutex>
#include <vector>

#include "member_identities.h"
#include "path_info.h"
#include "peer_paths.h"
#include "route_table.h"

struct RouterOutput {
  struct Direct {
    PathAddress to;
    uint8_t ttl;  // 0: the socket's own
    std::vector<uint8_t> bytes;
  };
  struct ToServer {
    uint16_t type;
    std::vector<uint8_t> bytes;
  };
  std::vector<Direct> direct;                // on the server endpoint, raw
  std::vector<ToServer> server;              // to the server connection
  std::vector<std::vector<uint8_t>> game;    // link datagrams for the local game
  bool routes_changed = false;               // the route table is to be published again
  void Clear();
};

// What went where, for the launcher and the benchmark.
struct RouterCounters {
  uint64_t sent_direct = 0;         // game datagrams sent on a direct path
  uint64_t sent_server = 0;         // ... through the server
  uint64_t received_direct = 0;     // game datagrams of other members that came directly
  uint64_t received_server = 0;     // ... through the server (type 18)
  uint64_t unknown_destination = 0; // from the game to an address no member is known at
  uint64_t refused_direct = 0;      // direct datagrams without our key or from a stranger
};

// One member as a launcher shows it.
struct MemberView {
  PathView path;
  uint64_t sent_direct, sent_server, received_direct, received_server;
};

class MemberRouter {
 public:
  // key: random, carried by every direct datagram to this member.
  explicit MemberRouter(uint32_t key);

  // Forgets every member and path, and takes a new key: a new session.
  void Reset(uint32_t key);
  // Forgets every member and path but keeps the key: a new connection to the server, which
  // numbers the members anew (a member's old number may now be another's).
  void ForgetMembers();

  // The path report (type 20) to send after the join: this machine's local addresses (the
  // loopback and link-local ones are left out) at the server endpoint's port. Returns its
  // length in out, or 0 when it does not fit.
  size_t BuildReport(const uint32_t* local_ips, int count, uint16_t endpoint_port,
                     uint8_t* out, size_t capacity) const;

  // A message from the server connection. Types 18 and 19 are the router's; any other type
  // is left alone (returns false).
  bool OnServerMessage(const uint8_t* data, size_t length, int32_t type, uint64_t now,
                       RouterOutput* out);

  // A datagram that reached the server endpoint from somewhere other than the server.
  // false when it is not a direct datagram (the transport then treats it as it would).
  bool OnEndpointDatagram(const uint8_t* data, size_t length, const PathAddress& from,
                          uint64_t now, RouterOutput* out);

  // A link datagram from the local game whose address field names another member (not the
  // loopback address a broadcast carries): to_ip:port as the game addressed it, from the
  // game's socket on src_port.
  void OnGameUnicast(const uint8_t* link, size_t length, uint16_t src_port, RouterOutput* out);

  // Probes that are due; call every pump tick.
  void Tick(uint64_t now, RouterOutput* out);

  // The route table for the shim: the address of every member that takes relayed datagrams
  // and sits behind a router (none of its local addresses is where the server sees it), and
  // this machine's public address (0 until path info told it).
  void Routes(std::vector<RouteEntry>* entries, uint32_t* public_ip) const;
  std::vector<MemberView> Members() const;
  RouterCounters Counters() const;
  // The member the local game means by ip:port; 0 when none is known there.
  uint32_t MemberAt(uint32_t ip, uint16_t port) const;
  // Our number at the server and the address it sees us at; 0 until path info came.
  uint32_t self() const;
  PathAddress public_address() const;

 private:
  struct PerMember {
    uint64_t sent_direct = 0, sent_server = 0, received_direct = 0, received_server = 0;
  };
  // Hands a datagram of `member` from real_port to the local game on dest_port.
  void Deliver(uint32_t member, uint16_t real_port, uint16_t dest_port, const uint8_t* payload,
               size_t n, RouterOutput* out);

  mutable std::mutex lock_;
  PeerPaths paths_;
  MemberIdentities identities_;
  std::unique_ptr<PathInfo> info_;  // the latest path info (10 KB: not on the stack)
  bool have_info_ = false;
  std::vector<ProbeOut> probes_;    // reused
  RouterCounters counters_;
  std::map<uint32_t, PerMember> per_member_;
};

#endif
