// Whether a direct path to each other member exists, found and kept by probing, per pair of
// members. Datagrams to a member take the direct path while it is up and the group server
// otherwise, so a game's datagram never waits for a question: the answer is this table.
//
// How the choice is made, for one other member M (each side decides for what it sends):
//   trying   M was just listed in path info (or a path was lost): probe every candidate
//            of M (where the server sees it, and the local addresses it reported, for two
//            members behind one router) every kProbeIntervalMs for kRoundMs. The round
//            opens with one probe of low TTL to M's public address, which passes our own
//            router, so that it expects M's answers, and dies before M's; the probes
//            proper follow kOpenerLeadMs later, by when M has done the same. Meanwhile
//            datagrams go through the server.
//   direct   an answer to one of our probes came back: datagrams go to the address it
//            came from. A probe a second (kKeepAliveMs) keeps the routers' mappings open
//            and measures the round trip; no answer for kDirectLostMs and the path is lost:
//            datagrams go through the server at once and a new round starts.
//   server   a round found nothing: datagrams go through the server; a new round after
//            kFirstRetryMs, doubling to kMaxRetryMs, or at once when M's probe arrives
//            (M's side is open then).
// Probes are answered whatever the state. Everything is bounded: at most 5 candidates,
// one probe each per interval, and nothing at all between rounds.
//
// Not thread-safe: the member router holds its lock around every call.
#ifndef ORB_SESSION_PEER_PATHS_H
#define ORB_SESSION_PEER_PATHS_H

#include <stdint.h>

#include <map>
#include <vector>

#include "direct_path.h"
#include "path_info.h"

enum class PathState : uint8_t { kTrying = 0, kDirect = 1, kServer = 2 };

const uint64_t kProbeIntervalMs = 200;
const uint64_t kRoundMs = 5000;
const uint64_t kOpenerLeadMs = 300;
const uint8_t kOpenerTtl = 2;
const uint64_t kKeepAliveMs = 1000;
const uint64_t kDirectLostMs = 3500;
const uint64_t kFirstRetryMs = 10000;
const uint64_t kMaxRetryMs = 120000;

// A probe or answer to send from the server endpoint. ttl 0: the socket's own.
struct ProbeOut {
  PathAddress to;
  uint8_t ttl;
  uint8_t bytes[kDirectProbeSize];
};

// What a launcher shows about the path to one member.
struct PathView {
  uint32_t member;
  PathAddress seen;     // where the server sees it
  PathState state;
  PathAddress direct;   // kDirect: where its datagrams go
  uint32_t rtt_ms;      // kDirect: smoothed round trip of the probes; 0 otherwise
};

class PeerPaths {
 public:
  // key: this member's path key, which direct datagrams to it must carry.
  explicit PeerPaths(uint32_t key) : key_(key) {}

  // Takes this member's number and the other members from path info: new members start a
  // round, members no longer listed are forgotten, a member seen at another address starts
  // over.
  void SetPeers(const PathInfo& info, uint64_t now, std::vector<ProbeOut>* out);

  // Probes that are due, and state changes that time brings.
  void Tick(uint64_t now, std::vector<ProbeOut>* out);

  // A probe or an answer that came from `from`. Returns false (nothing done) when it does
  // not carry our key or its sender is not a listed member. A probe is answered to where it
  // came from; an answer to one of our probes opens or refreshes the direct path.
  bool OnProbeOrAnswer(const DirectDatagram& d, const PathAddress& from, uint64_t now,
                       std::vector<ProbeOut>* out);

  // Whether a game datagram that came directly from `from` may be delivered: it carries our
  // key, its sender is listed, and it came from where that member's direct path is, or from
  // one of its candidates (another member knows our key, but not how to send from there).
  bool AcceptsData(const DirectDatagram& d, const PathAddress& from) const;

  // Where a datagram to member goes now: true with *to and *key (the member's) when the
  // direct path is up; false when it must take the server.
  bool DirectTo(uint32_t member, PathAddress* to, uint32_t* key) const;

  bool Listed(uint32_t member) const { return peers_.count(member) != 0; }
  uint32_t self() const { return self_; }
  uint32_t key() const { return key_; }
  // One view per listed member, in member order.
  std::vector<PathView> Views() const;

 private:
  struct Peer {
    uint32_t member = 0;
    uint32_t key = 0;
    PathAddress seen = {0, 0};
    uint8_t count = 0;
    PathAddress candidates[1 + kMaxPathCandidates] = {};
    PathState state = PathState::kTrying;
    PathAddress direct = {0, 0};
    uint64_t round_end = 0;
    uint64_t next_probe = 0;
    uint64_t last_heard = 0;
    uint64_t retry_at = 0;
    uint64_t retry_delay = kFirstRetryMs;
    uint32_t rtt8 = 0;         // smoothed round trip in eighths of a millisecond
    uint32_t first_probe = 0;  // probe numbers of the current round begin here
  };

  void StartRound(Peer& p, uint64_t now, std::vector<ProbeOut>* out);
  void Probe(Peer& p, const PathAddress& to, uint8_t ttl, uint64_t now,
             std::vector<ProbeOut>* out);

  uint32_t key_;
  uint32_t self_ = 0;
  uint32_t next_probe_no_ = 1;
  std::map<uint32_t, Peer> peers_;
};

#endif
