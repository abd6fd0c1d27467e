// The group server's part in play behind home routers: the sender's address stamped into
// every link datagram it passes on, relayed datagrams that name their sender (type 18),
// game datagrams for one member (type 9), and the path reports (type 20) and path info
// (type 19) from which members open direct paths between themselves.
#include <string.h>

#include <algorithm>

#include "group_server.h"
#include "link.h"
#include "message_types.h"
#include "path_info.h"
#include "relayed_unicast.h"

namespace orb {
namespace server {

namespace {

// The socket key holds the address the server sees a member at: ip << 16 | port.
PathAddress SeenAt(const Member& m) {
  return PathAddress{static_cast<uint32_t>(m.socket_key >> 16),
                     static_cast<uint16_t>(m.socket_key & 0xFFFF)};
}

}  // namespace

void GroupServer::FanOut(Member* from, const uint8_t* link, size_t length) {
  const uint32_t seen_ip = SeenAt(*from).ip;
  stamped_.assign(link, link + length);
  LinkSetAddress(stamped_.data(), seen_ip);
  bool built_relayed = false;
  for (int32_t to : recipients_) {
    Member* recipient = registry_.Find(to);
    int32_t result;
    if (recipient != nullptr && recipient->path.takes_relayed) {
      PathInfoBeforeRelay(*from, recipient);
      if (!built_relayed) {
        relayed_.resize(kRelayedHeaderSize + length);
        BuildRelayedDatagram(static_cast<uint32_t>(from->address), kRelayedBroadcast, seen_ip,
                             link, length, relayed_.data(), relayed_.size());
        built_relayed = true;
      }
      result = transport_->Send(to, relayed_.data(), static_cast<int32_t>(relayed_.size()),
                                kMsgUnicastDelivery);
    } else {
      result = transport_->Send(to, stamped_.data(), static_cast<int32_t>(length),
                                kMsgRelay);
    }
    if (result == 0) ++counters_.datagrams_out;
  }
}

void GroupServer::HandleUnicast(Member* member, const uint8_t* data, size_t length) {
  ++counters_.unicast_in;
  ++member->path.unicast_in;
  UnicastRequest request;
  if (!ParseUnicastRequest(data, length, &request)) {
    char detail[64];
    snprintf(detail, sizeof detail, "relayed unicast of %zu bytes", length);
    Drop(DropReason::kUnicastMalformed, member, detail);
    return;
  }
  if (member->group == nullptr) {
    Drop(DropReason::kUnicastNotJoined, member, "relayed unicast before any join");
    return;
  }
  Member* target = request.to <= INT32_MAX
                       ? registry_.Find(static_cast<int32_t>(request.to)) : nullptr;
  if (target == nullptr || target == member || target->group != member->group ||
      !target->path.takes_relayed) {
    char detail[80];
    snprintf(detail, sizeof detail, "member %u is not a member of its group that takes relays",
             request.to);
    Drop(DropReason::kUnicastNoTarget, member, detail);
    return;
  }
  if (!Proven(member) || !Proven(target)) {
    Drop(DropReason::kUnicastUnproven, member, "connection not yet proven");
    return;
  }
  if (Backlogged(target->address, kRelayedHeaderSize + request.link_length)) {
    Drop(DropReason::kUnicastOverloaded, target, "too many messages waiting for this member");
    return;
  }
  MemberPath& path = member->path;
  if (!path.bucket_ready) {
    path.unicast_bucket = TokenBucket(options_.unicast_rate, options_.unicast_burst, clock_());
    path.bucket_ready = true;
  }
  if (!path.unicast_bucket.Take(clock_(), 1)) {
    Drop(DropReason::kUnicastRateLimited, member, "relayed unicast rate exceeded");
    return;
  }
  PathInfoBeforeRelay(*member, target);
  relayed_.resize(kRelayedHeaderSize + request.link_length);
  BuildRelayedDatagram(static_cast<uint32_t>(member->address), kRelayedUnicast,
                       SeenAt(*member).ip, request.link, request.link_length, relayed_.data(),
                       relayed_.size());
  if (transport_->Send(target->address, relayed_.data(), static_cast<int32_t>(relayed_.size()),
                       kMsgUnicastDelivery) == 0) {
    ++counters_.unicast_relayed;
  }
}

void GroupServer::HandlePathReport(Member* member, const uint8_t* data, size_t length) {
  PathReport report;
  if (!ParsePathReport(data, length, &report)) {
    char detail[64];
    snprintf(detail, sizeof detail, "path report of %zu bytes", length);
    Drop(DropReason::kPathReportMalformed, member, detail);
    return;
  }
  ++counters_.path_reports;
  // Only our session library sends path reports, and it delivers each message once: a
  // lossy path to it may take early copies (transport.h).
  transport_->MarkDeliversOnce(member->address);
  MemberPath& path = member->path;
  const bool was = path.takes_relayed;
  path.takes_relayed = (report.flags & kPathTakesRelayed) != 0;
  path.key = report.key;
  path.candidate_count = report.count;
  std::copy(report.candidates, report.candidates + report.count, path.candidates);
  if (!path.bucket_ready) {
    path.unicast_bucket = TokenBucket(options_.unicast_rate, options_.unicast_burst, clock_());
    path.bucket_ready = true;
  }
  if ((was || path.takes_relayed) && member->group != nullptr) PathChanged(member);
}

void GroupServer::PathInfoDue(const std::string& group) {
  ++path_seq_;
  if (std::find(path_info_due_.begin(), path_info_due_.end(), group) == path_info_due_.end()) {
    path_info_due_.push_back(group);
  }
}

void GroupServer::PathChanged(Member* member) {
  if (member->group == nullptr) return;
  PathInfoDue(member->group->name);
  member->path.changed_seq = path_seq_;
}

void GroupServer::PathInfoBeforeRelay(const Member& from, Member* to) {
  // A game answers whoever it hears at once: were the answer's destination not yet known
  // to its session library, the answer would go to the network and be lost.
  const MemberPath& path = to->path;
  if (!from.path.takes_relayed || from.path.changed_seq <= path.told_seq) return;
  if (path.told && clock_() - path.told_ms < kPathInfoIntervalMs) return;
  SendPathInfo(to);
}

void GroupServer::FlushPathInfo() {
  if (path_info_due_.empty() && path_info_owed_.empty()) return;
  const uint64_t now = clock_();
  if (now < next_path_info_ms_) return;
  next_path_info_ms_ = now + kPathInfoIntervalMs;
  // Members not yet proven get nothing and are not listed (their address may be forged);
  // once proven, their group hears of them. The transport times out those that never are.
  std::vector<int32_t> owed;
  owed.swap(path_info_owed_);
  for (int32_t address : owed) {
    Member* m = registry_.Find(address);
    if (m == nullptr || m->group == nullptr || !m->path.takes_relayed) continue;
    if (Proven(m)) {
      PathChanged(m);
    } else {
      path_info_owed_.push_back(address);
    }
  }
  std::vector<std::string> due;
  due.swap(path_info_due_);
  for (const std::string& name : due) {
    const Group* group = registry_.FindGroup(name);
    if (group == nullptr) continue;  // everyone left
    for (Member* m : group->members) {
      if (!m->path.takes_relayed) continue;
      if (Proven(m)) {
        if (m->path.told_seq == path_seq_) continue;  // told since
        SendPathInfo(m);
      } else if (std::find(path_info_owed_.begin(), path_info_owed_.end(), m->address) ==
                 path_info_owed_.end()) {
        path_info_owed_.push_back(m->address);
      }
    }
  }
}

void GroupServer::SendPathInfo(Member* to) {
  static PathInfo info;  // 10 KB: kept off the stack; the server runs on one thread
  info.member = static_cast<uint32_t>(to->address);
  info.seen = SeenAt(*to);
  info.peer_count = 0;
  if (to->group != nullptr) {
    for (Member* other : to->group->members) {
      if (other == to || !other->path.takes_relayed || !Proven(other)) continue;
      if (info.peer_count == kMaxPathPeers) break;
      PathPeer& peer = info.peers[info.peer_count++];
      peer.member = static_cast<uint32_t>(other->address);
      peer.seen = SeenAt(*other);
      peer.flags = static_cast<uint8_t>(kPathTakesRelayed);
      peer.key = other->path.key;
      peer.count = other->path.candidate_count;
      std::copy(other->path.candidates, other->path.candidates + peer.count, peer.candidates);
    }
  }
  std::vector<uint8_t> message(kPathInfoMax);
  const size_t n = BuildPathInfo(info, message.data(), message.size());
  if (n == 0) return;
  if (transport_->Send(to->address, message.data(), static_cast<int32_t>(n), kMsgPathInfo) == 0) {
    ++counters_.path_infos_out;
    to->path.told_seq = path_seq_;
    to->path.told = true;
    to->path.told_ms = clock_();
  }
}

}  // namespace server
}  // namespace orb
