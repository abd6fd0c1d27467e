#include "peer_paths.h"

#include <algorithm>

namespace {

bool Same(const PathAddress& a, const PathAddress& b) { return a.ip == b.ip && a.port == b.port; }

}  // namespace

void PeerPaths::SetPeers(const PathInfo& info, uint64_t now, std::vector<ProbeOut>* out) {
  self_ = info.member;
  std::map<uint32_t, Peer> next;
  for (uint16_t i = 0; i < info.peer_count; ++i) {
    const PathPeer& listed = info.peers[i];
    if (listed.member == self_ || !(listed.flags & kPathTakesRelayed)) continue;
    auto old = peers_.find(listed.member);
    Peer p;
    const bool same_place = old != peers_.end() && Same(old->second.seen, listed.seen);
    if (same_place) p = old->second;
    p.member = listed.member;
    p.key = listed.key;
    p.seen = listed.seen;
    p.count = 0;
    p.candidates[p.count++] = listed.seen;
    for (uint8_t c = 0; c < listed.count && c < kMaxPathCandidates; ++c) {
      // A local candidate equal to the public one adds nothing (a member not behind NAT).
      if (!Same(listed.candidates[c], listed.seen)) p.candidates[p.count++] = listed.candidates[c];
    }
    const bool fresh = !same_place;
    next[p.member] = p;
    if (fresh) StartRound(next[p.member], now, out);
  }
  peers_.swap(next);
}

void PeerPaths::Probe(Peer& p, const PathAddress& to, uint8_t ttl, uint64_t now,
                      std::vector<ProbeOut>* out) {
  DirectDatagram d = {};
  d.kind = kDirectProbe;
  d.sender = self_;
  d.key = p.key;
  d.probe = next_probe_no_++;
  d.stamp_ms = static_cast<uint32_t>(now);
  ProbeOut probe;
  probe.to = to;
  probe.ttl = ttl;
  BuildDirectProbe(d, probe.bytes, sizeof probe.bytes);
  out->push_back(probe);
}

void PeerPaths::StartRound(Peer& p, uint64_t now, std::vector<ProbeOut>* out) {
  p.state = PathState::kTrying;
  p.round_end = now + kRoundMs;
  p.first_probe = next_probe_no_;
  p.rtt8 = 0;
  Probe(p, p.seen, kOpenerTtl, now, out);
  p.next_probe = now + kOpenerLeadMs;
}

void PeerPaths::Tick(uint64_t now, std::vector<ProbeOut>* out) {
  for (auto& entry : peers_) {
    Peer& p = entry.second;
    switch (p.state) {
      case PathState::kTrying:
        if (now >= p.round_end) {
          p.state = PathState::kServer;
          p.retry_at = now + p.retry_delay;
          p.retry_delay = std::min(p.retry_delay * 2, kMaxRetryMs);
        } else if (now >= p.next_probe) {
          for (uint8_t c = 0; c < p.count; ++c) Probe(p, p.candidates[c], 0, now, out);
          p.next_probe = now + kProbeIntervalMs;
        }
        break;
      case PathState::kDirect:
        if (now - p.last_heard > kDirectLostMs) {
          StartRound(p, now, out);  // the server carries everything meanwhile
        } else if (now >= p.next_probe) {
          Probe(p, p.direct, 0, now, out);
          p.next_probe = now + kKeepAliveMs;
        }
        break;
      case PathState::kServer:
        if (now >= p.retry_at) StartRound(p, now, out);
        break;
    }
  }
}

bool PeerPaths::OnProbeOrAnswer(const DirectDatagram& d, const PathAddress& from, uint64_t now,
                                std::vector<ProbeOut>* out) {
  if (d.key != key_) return false;
  auto it = peers_.find(d.sender);
  if (it == peers_.end()) return false;
  Peer& p = it->second;
  if (d.kind == kDirectProbe) {
    DirectDatagram answer = d;
    answer.kind = kDirectAnswer;
    answer.sender = self_;
    answer.key = p.key;
    answer.seen_ip = from.ip;
    answer.seen_port = from.port;
    ProbeOut o;
    o.to = from;
    o.ttl = 0;
    BuildDirectProbe(answer, o.bytes, sizeof o.bytes);
    out->push_back(o);
    // The member is probing us, so its side is open now: no need to wait for our retry.
    if (p.state == PathState::kServer) StartRound(p, now, out);
    return true;
  }
  if (d.kind != kDirectAnswer) return false;
  // Only answers to this round's probes count; an old one may come from a stale path.
  if (d.probe < p.first_probe || d.probe >= next_probe_no_) return true;
  const uint32_t sample = static_cast<uint32_t>(now) - d.stamp_ms;
  if (p.state != PathState::kDirect) {
    p.state = PathState::kDirect;
    p.direct = from;
    p.rtt8 = sample * 8;
    p.retry_delay = kFirstRetryMs;
    p.next_probe = now + kKeepAliveMs;
  } else if (!Same(p.direct, from)) {
    return true;  // another candidate answered late; keep the path in use
  } else {
    p.rtt8 = p.rtt8 - p.rtt8 / 8 + sample;
  }
  p.last_heard = now;
  return true;
}

bool PeerPaths::AcceptsData(const DirectDatagram& d, const PathAddress& from) const {
  if (d.key != key_) return false;
  auto it = peers_.find(d.sender);
  if (it == peers_.end()) return false;
  const Peer& p = it->second;
  if (p.state == PathState::kDirect && Same(p.direct, from)) return true;
  for (uint8_t c = 0; c < p.count; ++c) {
    if (Same(p.candidates[c], from)) return true;
  }
  return false;
}

bool PeerPaths::DirectTo(uint32_t member, PathAddress* to, uint32_t* key) const {
  auto it = peers_.find(member);
  if (it == peers_.end() || it->second.state != PathState::kDirect) return false;
  *to = it->second.direct;
  *key = it->second.key;
  return true;
}

std::vector<PathView> PeerPaths::Views() const {
  std::vector<PathView> views;
  for (const auto& entry : peers_) {
    const Peer& p = entry.second;
    PathView v;
    v.member = p.member;
    v.seen = p.seen;
    v.state = p.state;
    v.direct = p.state == PathState::kDirect ? p.direct : PathAddress{0, 0};
    v.rtt_ms = p.state == PathState::kDirect ? (p.rtt8 + 4) / 8 : 0;
    views.push_back(v);
  }
  return views;
}
