#include "member_router.h"

#include <string.h>

#include <algorithm>

#include "bytes.h"
#include "direct_path.h"
#include "link.h"
#include "message_types.h"
#include "relayed_unicast.h"

namespace {

// The link header's spare bytes carry the port of the socket that sent the datagram,
// little-endian; 0 is "unknown" (a shim or session library that leaves them alone).
uint16_t GetSourcePort(const uint8_t* link) { return orb::ReadU16(link + 6); }
void SetSourcePort(uint8_t* link, uint16_t port) { orb::WriteU16(link + 6, port); }

bool Usable(uint32_t ip) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&ip);
  return b[0] != 0 && b[0] != 127 && !(b[0] == 169 && b[1] == 254) && b[0] < 224;
}

}  // namespace

void RouterOutput::Clear() {
  direct.clear();
  server.clear();
  game.clear();
  routes_changed = false;
}

MemberRouter::MemberRouter(uint32_t key) : paths_(key), info_(new PathInfo()) {}

void MemberRouter::Reset(uint32_t key) {
  std::lock_guard<std::mutex> hold(lock_);
  paths_ = PeerPaths(key);
  identities_ = MemberIdentities();
  have_info_ = false;
  counters_ = RouterCounters();
  per_member_.clear();
}

void MemberRouter::ForgetMembers() {
  std::lock_guard<std::mutex> hold(lock_);
  paths_ = PeerPaths(paths_.key());
  identities_ = MemberIdentities();
  have_info_ = false;
  per_member_.clear();
}

size_t MemberRouter::BuildReport(const uint32_t* local_ips, int count, uint16_t endpoint_port,
                                 uint8_t* out, size_t capacity) const {
  PathReport report = {};
  report.flags = kPathTakesRelayed;
  report.key = paths_.key();
  for (int i = 0; i < count && report.count < kMaxPathCandidates; ++i) {
    if (!Usable(local_ips[i])) continue;
    bool repeated = false;
    for (uint8_t c = 0; c < report.count; ++c) repeated |= report.candidates[c].ip == local_ips[i];
    if (!repeated) report.candidates[report.count++] = PathAddress{local_ips[i], endpoint_port};
  }
  return BuildPathReport(report, out, capacity);
}

void MemberRouter::Deliver(uint32_t member, uint16_t real_port, uint16_t dest_port,
                           const uint8_t* payload, size_t n, RouterOutput* out) {
  const SeenAddress seen = identities_.Seen(member, real_port);
  out->game.emplace_back(LINK_HEADER_SIZE + n);
  std::vector<uint8_t>& link = out->game.back();
  LinkWrap(link.data(), link.size(), dest_port, seen.ip, payload, n);
  SetSourcePort(link.data(), seen.port);
}

bool MemberRouter::OnServerMessage(const uint8_t* data, size_t length, int32_t type,
                                   uint64_t now, RouterOutput* out) {
  if (type == kMsgUnicastDelivery) {
    RelayedDatagram d;
    if (!ParseRelayedDatagram(data, length, &d)) return true;
    std::lock_guard<std::mutex> hold(lock_);
    // The server writes where it sees the sender: that is the address the game sees.
    const uint32_t address = LinkGetAddress(d.link);
    if (identities_.AddressOf(d.from) != address) identities_.SetMember(d.from, address);
    const uint16_t dest = LinkGetPort(d.link);
    const uint16_t source = GetSourcePort(d.link);
    Deliver(d.from, source != 0 ? source : dest, dest, d.link + LINK_HEADER_SIZE,
            d.link_length - LINK_HEADER_SIZE, out);
    ++counters_.received_server;
    ++per_member_[d.from].received_server;
    return true;
  }
  if (type == kMsgPathInfo) {
    std::unique_ptr<PathInfo> info(new PathInfo());
    if (!ParsePathInfo(data, length, info.get())) return true;
    std::lock_guard<std::mutex> hold(lock_);
    // Members listed before and gone now have left.
    if (have_info_) {
      for (uint16_t i = 0; i < info_->peer_count; ++i) {
        const uint32_t m = info_->peers[i].member;
        bool still = false;
        for (uint16_t j = 0; j < info->peer_count; ++j) still |= info->peers[j].member == m;
        if (!still && m != info->member) {
          identities_.RemoveMember(m);
          per_member_.erase(m);
        }
      }
    }
    identities_.SetSelf(info->member, info->seen.ip);
    for (uint16_t i = 0; i < info->peer_count; ++i) {
      if (info->peers[i].member == info->member) continue;
      identities_.SetMember(info->peers[i].member, info->peers[i].seen.ip);
    }
    probes_.clear();
    paths_.SetPeers(*info, now, &probes_);
    for (const ProbeOut& p : probes_) {
      out->direct.push_back({p.to, p.ttl, std::vector<uint8_t>(p.bytes, p.bytes + sizeof p.bytes)});
    }
    info_.swap(info);
    have_info_ = true;
    out->routes_changed = true;
    return true;
  }
  return false;
}

bool MemberRouter::OnEndpointDatagram(const uint8_t* data, size_t length,
                                      const PathAddress& from, uint64_t now, RouterOutput* out) {
  if (!DirectIsOurs(data, length)) return false;
  std::lock_guard<std::mutex> hold(lock_);
  DirectDatagram d;
  if (!ParseDirect(data, length, &d)) {
    ++counters_.refused_direct;
    return true;
  }
  if (d.kind == kDirectData) {
    if (!paths_.AcceptsData(d, from) || !identities_.Knows(d.sender)) {
      ++counters_.refused_direct;
      return true;
    }
    Deliver(d.sender, d.src_port != 0 ? d.src_port : d.dest_port, d.dest_port, d.payload,
            d.payload_length, out);
    ++counters_.received_direct;
    ++per_member_[d.sender].received_direct;
    return true;
  }
  probes_.clear();
  if (!paths_.OnProbeOrAnswer(d, from, now, &probes_)) {
    ++counters_.refused_direct;
    return true;
  }
  for (const ProbeOut& p : probes_) {
    out->direct.push_back({p.to, p.ttl, std::vector<uint8_t>(p.bytes, p.bytes + sizeof p.bytes)});
  }
  return true;
}

void MemberRouter::OnGameUnicast(const uint8_t* link, size_t length, uint16_t src_port,
                                 RouterOutput* out) {
  if (!LinkIsDatagram(link, length)) return;
  std::lock_guard<std::mutex> hold(lock_);
  uint32_t member = 0;
  uint16_t real_port = 0;
  if (!identities_.Resolve(LinkGetAddress(link), LinkGetPort(link), &member, &real_port) ||
      !paths_.Listed(member)) {
    ++counters_.unknown_destination;
    return;
  }
  const uint8_t* payload = link + LINK_HEADER_SIZE;
  const size_t n = length - LINK_HEADER_SIZE;
  PathAddress to;
  uint32_t key;
  if (n <= kDirectPayloadMax && paths_.DirectTo(member, &to, &key)) {
    RouterOutput::Direct direct;
    direct.to = to;
    direct.ttl = 0;
    direct.bytes.resize(kDirectHeaderSize + n);
    BuildDirectData(paths_.self(), key, real_port, src_port, payload, n, direct.bytes.data(),
                    direct.bytes.size());
    out->direct.push_back(std::move(direct));
    ++counters_.sent_direct;
    ++per_member_[member].sent_direct;
    return;
  }
  if (n == 0) return;  // the server relays no empty datagram
  std::vector<uint8_t> copy(link, link + length);
  LinkSetPort(copy.data(), real_port);
  SetSourcePort(copy.data(), src_port);
  RouterOutput::ToServer message;
  message.type = kMsgRelayUnicast;
  message.bytes.resize(kUnicastHeaderSize + length);
  BuildUnicastRequest(member, copy.data(), copy.size(), message.bytes.data(), message.bytes.size());
  out->server.push_back(std::move(message));
  ++counters_.sent_server;
  ++per_member_[member].sent_server;
}

void MemberRouter::Tick(uint64_t now, RouterOutput* out) {
  std::lock_guard<std::mutex> hold(lock_);
  probes_.clear();
  paths_.Tick(now, &probes_);
  for (const ProbeOut& p : probes_) {
    out->direct.push_back({p.to, p.ttl, std::vector<uint8_t>(p.bytes, p.bytes + sizeof p.bytes)});
  }
}

void MemberRouter::Routes(std::vector<RouteEntry>* entries, uint32_t* public_ip) const {
  std::lock_guard<std::mutex> hold(lock_);
  entries->clear();
  *public_ip = have_info_ ? info_->seen.ip : 0;
  if (!have_info_) return;
  for (uint16_t i = 0; i < info_->peer_count; ++i) {
    const PathPeer& peer = info_->peers[i];
    if (peer.member == info_->member || !paths_.Listed(peer.member)) continue;
    // A member at its own address (one of its local addresses is where the server sees it)
    // takes a game's datagrams straight, as a member of any LAN game would: the game's
    // socket sends them, nothing is in the way. Members behind a router get them from here.
    bool at_own_address = false;
    for (uint8_t c = 0; c < peer.count; ++c) at_own_address |= peer.candidates[c].ip == peer.seen.ip;
    if (at_own_address) continue;
    bool repeated = false;
    for (const RouteEntry& e : *entries) repeated |= e.address == peer.seen.ip;
    if (!repeated) entries->push_back(RouteEntry{peer.seen.ip, kRouteThroughSession});
  }
}

std::vector<MemberView> MemberRouter::Members() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<MemberView> views;
  for (const PathView& v : paths_.Views()) {
    MemberView m = {};
    m.path = v;
    auto it = per_member_.find(v.member);
    if (it != per_member_.end()) {
      m.sent_direct = it->second.sent_direct;
      m.sent_server = it->second.sent_server;
      m.received_direct = it->second.received_direct;
      m.received_server = it->second.received_server;
    }
    views.push_back(m);
  }
  return views;
}

RouterCounters MemberRouter::Counters() const {
  std::lock_guard<std::mutex> hold(lock_);
  return counters_;
}

uint32_t MemberRouter::MemberAt(uint32_t ip, uint16_t port) const {
  std::lock_guard<std::mutex> hold(lock_);
  uint32_t member = 0;
  uint16_t real_port = 0;
  return identities_.Resolve(ip, port, &member, &real_port) ? member : 0;
}

uint32_t MemberRouter::self() const {
  std::lock_guard<std::mutex> hold(lock_);
  return paths_.self();
}

PathAddress MemberRouter::public_address() const {
  std::lock_guard<std::mutex> hold(lock_);
  return have_info_ ? info_->seen : PathAddress{0, 0};
}
