// The group server's side of admission (admission.h): which CONNECTs get a connection,
// when a connection becomes a member (once proven), and when one is closed for holding a
// place without joining.
#include "group_server.h"

#include "message_types.h"

namespace orb {
namespace server {

ConnectAdmission GroupServer::AdmitConnect(const SocketAddress& from, uint16_t port,
                                           int32_t remote) {
  const SocketAddress at{from.ip, port};
  const bool replacing = by_socket_.count(SocketKey(at)) != 0;
  char detail[96];
  switch (admission_.OnConnect(from.ip, remote, replacing)) {
    case AdmissionVerdict::kAdmit:
      return ConnectAdmission::kAdmit;
    case AdmissionVerdict::kChallenge:
      return ConnectAdmission::kChallenge;
    case AdmissionVerdict::kRefuseAddress:
      snprintf(detail, sizeof detail, "CONNECT from %s names address %d",
               PeerText(at).c_str(), remote);
      Drop(DropReason::kConnectBadAddress, nullptr, detail);
      return ConnectAdmission::kRefuse;
    case AdmissionVerdict::kRefusePerIp:
      // One player too many behind one router: answered statelessly, so that once its
      // acknowledgement shows the address is its own it is told why (OnProven) instead of
      // waiting out its time-out. A forged source gets one small answer and holds nothing.
      return ConnectAdmission::kChallenge;
  }
  return ConnectAdmission::kRefuse;
}

void GroupServer::OnAccepted(int32_t address) {
  if (registry_.Find(address) != nullptr) return;
  SocketAddress peer{0, 0};
  transport_->RemoteSocketAddress(address, &peer);
  Member* member = registry_.AddMember(
      address, PeerText(peer), TokenBucket(options_.relay_rate, options_.relay_burst, clock_()));
  if (member == nullptr) {
    JoinOutcome full = ServerFull();
    CloseConnection(address, DropReason::kMemberLimit, "member limit reached, connection closed",
                    &full);
    return;
  }
  member->socket_key = SocketKey(peer);
  member->accepted_ms = clock_();
  admission_.Add(peer.ip);
  logger_->Log(LogLevel::kDebug, "connection %d from %s, not yet proven", address,
               member->peer.c_str());
  if (shutting_down_) SendPeerClose(address);
}

void GroupServer::OnProven(int32_t address) {
  Member* member = registry_.Find(address);
  if (member == nullptr || member->proven) return;
  const uint32_t ip = static_cast<uint32_t>(member->socket_key >> 16);
  auto previous = by_socket_.find(member->socket_key);
  const bool replacing = previous != by_socket_.end() && previous->second != address;
  if (!admission_.MemberFits(ip, replacing)) {
    // Told why before it is closed, now that its address is known to be its own.
    if (admission_.PerIpFull(ip)) {
      JoinOutcome refused;
      refused.outcome = kJoinRefused;
      refused.reason = "the server takes at most " + std::to_string(options_.max_per_ip) +
                       " players from one address";
      CloseConnection(address, DropReason::kConnectPerIpLimit,
                      "members from that address at the limit, connection closed", &refused);
    } else {
      JoinOutcome full = ServerFull();
      CloseConnection(address, DropReason::kMemberLimit, "member limit reached, connection closed",
                      &full);
    }
    return;
  }
  admission_.Prove(ip);
  member->proven = true;
  std::string group;
  if (replacing) {
    // Same address and port, another connecting-side address: the player's session
    // library started over. Until now its datagrams reached the old member (the lower
    // address), a join among them, so the new member takes the old one's group.
    const int32_t old = previous->second;
    if (Member* o = registry_.Find(old)) {
      if (o->group != nullptr) group = o->group->name;
      if (member->player.empty()) member->player = o->player;
    }
    logger_->Log(LogLevel::kInfo, "member %d replaced by a new connection from %s", old,
                 member->peer.c_str());
    RemoveMember(old, nullptr, kLeftReplaced);
    transport_->RemoveConnection(old);
  }
  by_socket_[member->socket_key] = address;
  ++counters_.members_accepted;
  logger_->Log(LogLevel::kInfo, "member %d connected from %s", address, member->peer.c_str());
  if (shutting_down_) {
    SendPeerClose(address);
    return;
  }
  if (!member->pending_group.empty()) group.swap(member->pending_group);
  member->pending_group.clear();
  if (!group.empty()) JoinGroup(member, group);
}

void GroupServer::SweepJoinTimeouts() {
  if (options_.join_timeout_s == 0) return;
  const uint64_t now = clock_();
  const uint64_t limit = static_cast<uint64_t>(options_.join_timeout_s) * 1000;
  std::vector<int32_t> expired;
  registry_.ForEachMember([&](Member& m) {
    if (!m.ever_joined && now - m.accepted_ms >= limit) expired.push_back(m.address);
  });
  for (int32_t address : expired) {
    CloseConnection(address, DropReason::kJoinTimeout, "joined no group in time, connection closed");
  }
}

JoinOutcome GroupServer::ServerFull() const {
  JoinOutcome full;
  full.outcome = kJoinServerFull;
  full.capacity = static_cast<uint16_t>(options_.max_group_members);
  full.reason = "the server holds its maximum of " + std::to_string(options_.max_members) +
                " players";
  return full;
}

void GroupServer::CloseConnection(int32_t address, DropReason reason, const char* detail,
                                  const JoinOutcome* outcome) {
  Drop(reason, registry_.Find(address), detail);
  if (outcome != nullptr) {
    transport_->Send(address, BuildJoinOutcome(*outcome).data(),
                     static_cast<int32_t>(kJoinOutcomeSize), kMsgJoinOutcome);
  }
  SendPeerClose(address);
  RemoveMember(address, nullptr, kLeftClosed);
  transport_->RemoveConnection(address);
}

void GroupServer::JoinLine(Member* member, LogLevel level, const std::string& text) {
  if (!logger_->Enabled(level)) return;
  const uint64_t now = clock_();
  if (member->join_line_written && now >= member->join_line_ms &&
      now - member->join_line_ms < kWarningIntervalMs) {
    ++member->join_lines_held;
    return;
  }
  std::string held;
  if (member->join_lines_held != 0) {
    held = " (" + std::to_string(member->join_lines_held) + " more join lines not shown)";
  }
  member->join_line_written = true;
  member->join_line_ms = now;
  member->join_lines_held = 0;
  logger_->Log(level, "member %d (%s) %s%s", member->address, Who(*member).c_str(), text.c_str(),
               held.c_str());
}

}  // namespace server
}  // namespace orb
