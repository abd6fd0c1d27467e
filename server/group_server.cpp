#include "group_server.h"

#include <string.h>

#include "bytes.h"
#include "message_types.h"
#include "records.h"
#include "stats_line.h"

namespace orb {
namespace server {

namespace {

// Connections beyond --max-members the transport still accepts, to answer them.
const size_t kFullServerAnswers = 16;

// "alice, 203.0.113.10:4000" for the log; a member without a join yet has no name.
std::string Who(const Member& m) {
  return (m.player.empty() ? std::string("no name") : m.player) + ", " + m.peer;
}

std::string Quoted(const std::string& raw) {
  return "'" + PrintableText(raw.data(), raw.size()) + "'";
}

TransportOptions MakeTransportOptions(const ServerOptions& options, Logger* logger,
                                      const std::function<uint64_t()>& clock, DatagramIo* io,
                                      TransportObserver* observer) {
  TransportOptions t;
  t.clock = clock;
  t.io = io;
  t.observer = observer;
  // One console line per datagram would cap a busy server: the transport's trace is
  // formatted only when the operator asked for debug output.
  if (logger->Enabled(LogLevel::kDebug)) {
    t.trace = [logger](const char* line) {
      size_t n = strlen(line);
      while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
      logger->Log(LogLevel::kDebug, "transport: %.*s", static_cast<int>(n), line);
    };
  } else {
    t.trace = nullptr;
  }
  // A few places beyond the member limit, so a player who finds the server full is told
  // so (and closed) instead of meeting silence.
  t.max_connections = options.max_members + kFullServerAnswers;
  t.reuse_repeated_connect = true;
  t.anti_amplification = true;
  // A forged PEERCLOSE or CONFIRM_DISCONNECT naming a guessed address would otherwise
  // disconnect somebody else's member.
  t.check_control_source = true;
  return t;
}

std::string PeerText(const SocketAddress& a) {
  char ip[16];
  FormatIPv4(a.ip, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(a.port);
}

}  // namespace

GroupServer::GroupServer(const ServerOptions& options, Logger* logger,
                         std::function<uint64_t()> clock, DatagramIo* io)
    : options_(options),
      logger_(logger),
      clock_(clock ? std::move(clock) : std::function<uint64_t()>(MonotonicMs)),
      io_(io),
      registry_(RegistryLimits{options.max_members, options.max_groups,
                               options.max_group_members}),
      notices_(nullptr, &registry_),
      warnings_(static_cast<size_t>(DropReason::kCount), kWarningIntervalMs) {
  transport_.reset(new Transport(MakeTransportOptions(options_, logger_, clock_, io_, this)));
  notices_ = MembershipNotices(transport_.get(), &registry_);
  last_stats_ms_ = clock_();
  next_stats_ms_ = last_stats_ms_ + static_cast<uint64_t>(options_.stats_interval_s) * 1000;
}

GroupServer::~GroupServer() = default;

bool GroupServer::Start(std::string* error) {
  endpoint_ = transport_->CreateEndpoint(options_.port);
  if (endpoint_ == nullptr) {
    *error = Transport::ResultText(transport_->LastResult());
    return false;
  }
  logger_->Log(LogLevel::kInfo,
               "orbserver listening on %s:%u (at most %u members, %u groups, %u per group; "
               "relay rate %u/s, burst %u)",
               options_.address.c_str(), endpoint_->local_port, options_.max_members,
               options_.max_groups, options_.max_group_members, options_.relay_rate,
               options_.relay_burst);
  return true;
}

uint16_t GroupServer::port() const { return endpoint_ ? endpoint_->local_port : 0; }
intptr_t GroupServer::handle() const { return endpoint_ ? endpoint_->handle : -1; }

int GroupServer::WaitMs(int cap_ms) {
  const uint64_t due = transport_->MsToNextDue();
  return due < static_cast<uint64_t>(cap_ms) ? static_cast<int>(due) : cap_ms;
}

void GroupServer::RunOnce() {
  transport_->Pump(0);
  notices_.RunOnce(clock_());
  FlushPathInfo();
  if (after_pass_) after_pass_();
  if (options_.stats_interval_s != 0) {
    uint64_t now = clock_();
    if (now >= next_stats_ms_) {
      LogStatistics();
      next_stats_ms_ = now + static_cast<uint64_t>(options_.stats_interval_s) * 1000;
    }
  }
}

void GroupServer::LogStatistics() {
  TransportCounters t = transport_->Counters();
  uint64_t transport_dropped = t.dropped_short + t.dropped_truncated +
                               t.dropped_control_length + t.dropped_control_source +
                               t.dropped_control_unknown + t.dropped_unknown_sender +
                               t.dropped_malformed + t.dropped_incomplete_limit;
  // Only members whose connection is proven count: a forged CONNECT is nobody.
  size_t members = 0, unproven = 0;
  registry_.ForEachMember([&](Member& m) { ++(Proven(&m) ? members : unproven); });
  const uint64_t now = clock_();
  StatsCounts before{counters_at_last_stats_.joins, counters_at_last_stats_.leaves,
                     counters_at_last_stats_.records_in, counters_at_last_stats_.records_relayed,
                     counters_at_last_stats_.datagrams_out};
  StatsCounts after{counters_.joins, counters_.leaves, counters_.records_in,
                    counters_.records_relayed, counters_.datagrams_out};
  logger_->Log(LogLevel::kInfo,
               "stats: members=%zu unconfirmed=%zu groups=%zu | %s | totals: %s drops: %s | "
               "unicast: in=%llu relayed=%llu path_reports=%llu path_infos=%llu | "
               "transport: in=%llu out=%llu resends=%llu spurious_resends=%llu timeouts=%llu "
               "refused_connects=%llu "
               "bad_datagrams=%llu duplicates=%llu held_back=%llu",
               members, unproven, registry_.group_count(),
               IntervalText(before, after, now - last_stats_ms_).c_str(),
               TotalsText(after).c_str(), drops_.Summary().c_str(),
               static_cast<unsigned long long>(counters_.unicast_in),
               static_cast<unsigned long long>(counters_.unicast_relayed),
               static_cast<unsigned long long>(counters_.path_reports),
               static_cast<unsigned long long>(counters_.path_infos_out),
               static_cast<unsigned long long>(t.datagrams_received),
               static_cast<unsigned long long>(t.datagrams_sent),
               static_cast<unsigned long long>(t.resends),
               static_cast<unsigned long long>(t.spurious_resends),
               static_cast<unsigned long long>(t.timeouts),
               static_cast<unsigned long long>(t.connects_refused),
               static_cast<unsigned long long>(transport_dropped),
               static_cast<unsigned long long>(t.dropped_duplicate),
               static_cast<unsigned long long>(t.sends_suppressed));
  counters_at_last_stats_ = counters_;
  last_stats_ms_ = now;
}

void GroupServer::LogGroups() {
  size_t alone = 0;
  registry_.ForEachMember([&](Member& m) { alone += m.group == nullptr; });
  logger_->Log(LogLevel::kInfo, "groups: %zu, members: %zu (%zu in no group)",
               registry_.group_count(), registry_.member_count(), alone);
  registry_.ForEachGroup([this](Group& g) {
    std::string line;
    for (const Member* m : g.members) {
      const int32_t rtt = transport_->RoundTripMs(m->address);
      line += line.empty() ? "" : ", ";
      line += "member " + std::to_string(m->address) + " (" + Who(*m) +
              (rtt < 0 ? std::string(", round trip unknown)")
                       : ", " + std::to_string(rtt) + " ms)");
    }
    logger_->Log(LogLevel::kInfo, "group %s (%zu of %u): %s", Quoted(g.name).c_str(),
                 g.members.size(), options_.max_group_members, line.c_str());
  });
}

void GroupServer::Drop(DropReason reason, const Member* member, const char* detail) {
  drops_.Add(reason);
  uint64_t suppressed = 0;
  if (!warnings_.Allow(static_cast<size_t>(reason), clock_(), &suppressed)) return;
  char tail[64] = "";
  if (suppressed != 0) {
    snprintf(tail, sizeof tail, " (%llu more like it not shown)",
             static_cast<unsigned long long>(suppressed));
  }
  if (member != nullptr) {
    logger_->Log(LogLevel::kWarn, "refused input from member %d (%s): %s: %s%s",
                 member->address, member->peer.c_str(), DropReasonName(reason), detail, tail);
  } else {
    logger_->Log(LogLevel::kWarn, "refused: %s: %s%s", DropReasonName(reason), detail, tail);
  }
}

void GroupServer::OnAccepted(int32_t address) {
  if (registry_.Find(address) != nullptr) return;  // answered again on the same connection
  SocketAddress peer{0, 0};
  transport_->RemoteSocketAddress(address, &peer);
  uint64_t key = SocketKey(peer);
  auto previous = by_socket_.find(key);
  if (previous != by_socket_.end()) {
    // Same address and port, another connecting-side address: the player's session
    // library started over. The old connection would shadow the new one.
    int32_t old = previous->second;
    logger_->Log(LogLevel::kInfo, "member %d replaced by a new connection from %s", old,
                 PeerText(peer).c_str());
    RemoveMember(old, nullptr, kLeftReplaced);
    transport_->RemoveConnection(old);
  }
  Member* member = registry_.AddMember(
      address, PeerText(peer),
      TokenBucket(options_.relay_rate, options_.relay_burst, clock_()));
  if (member == nullptr) {
    drops_.Add(DropReason::kMemberLimit);
    // Told before it is closed; its join record, on its way, finds no connection.
    JoinOutcome full;
    full.outcome = kJoinServerFull;
    full.reason = "the server holds its maximum of " + std::to_string(options_.max_members) +
                  " players";
    transport_->Send(address, BuildJoinOutcome(full).data(),
                     static_cast<int32_t>(kJoinOutcomeSize), kMsgJoinOutcome);
    logger_->Log(LogLevel::kInfo, "connection from %s refused: %s", PeerText(peer).c_str(),
                 full.reason.c_str());
    SendPeerClose(address);
    transport_->RemoveConnection(address);
    return;
  }
  member->socket_key = key;
  by_socket_[key] = address;
  ++counters_.members_accepted;
  logger_->Log(LogLevel::kInfo, "member %d connected from %s", address, member->peer.c_str());
  if (shutting_down_) SendPeerClose(address);
}

void GroupServer::RemoveMember(int32_t address, const char* how, LeaveReason why) {
  Member* member = registry_.Find(address);
  if (member == nullptr) return;
  if (how != nullptr) {
    logger_->Log(LogLevel::kInfo, "member %d (%s) %s%s%s", address, Who(*member).c_str(), how,
                 member->group ? ", left group " : "",
                 member->group ? Quoted(member->group->name).c_str() : "");
  }
  if (member->group != nullptr) {
    ++counters_.leaves;
    notices_.Leaving(*member, why);
  }
  notices_.Forget(address);
  auto it = by_socket_.find(member->socket_key);
  if (it != by_socket_.end() && it->second == address) by_socket_.erase(it);
  if (member->path.takes_relayed && member->group != nullptr) PathInfoDue(member->group->name);
  registry_.RemoveMember(address);
}

void GroupServer::OnEvent(int32_t address, int32_t code) {
  switch (code) {
    case EVENT_PEERCLOSE:
      // The member asked to end; the transport has queued our CONFIRM_DISCONNECT.
      RemoveMember(address, "closed the connection", kLeftClosed);
      transport_->RemoveConnection(address);
      break;
    case EVENT_DISCONNECTED:
      RemoveMember(address, "disconnected", kLeftClosed);
      break;
    case EVENT_TIMEOUT:
      RemoveMember(address, "timed out", kLeftTimedOut);
      break;
    default:
      break;
  }
}

void GroupServer::OnData(const uint8_t* data, int32_t length, int32_t type,
                         int32_t address) {
  Member* member = registry_.Find(address);
  if (member == nullptr || length < 0) return;  // a connection being closed
  size_t n = static_cast<size_t>(length);
  if (type == kMsgRelay) {
    HandleRelay(member, data, n);
  } else if (type == kMsgJoin) {
    HandleJoin(member, data, n);
  } else if (type == kMsgLeave) {
    HandleLeave(member);
  } else if (type == kMsgRelayUnicast) {
    HandleUnicast(member, data, n);
  } else if (type == kMsgPathReport) {
    HandlePathReport(member, data, n);
  } else {
    char detail[48];
    snprintf(detail, sizeof detail, "message type %d", type);
    Drop(DropReason::kUnknownType, member, detail);
  }
}

void GroupServer::HandleJoin(Member* member, const uint8_t* data, size_t length) {
  JoinRecord join;
  const RecordError error = ParseJoinRecord(data, length, &join);
  if (error != RecordError::kNone) {
    char detail[64];
    snprintf(detail, sizeof detail, "join record of %zu bytes", length);
    Drop(DropReasonFor(error), member, detail);
    return;
  }
  ++counters_.joins;
  member->player = PrintableText(join.player, join.player_length, kPlayerField);
  const std::string group_name(join.group, join.group_length);
  if (member->group != nullptr &&
      !SameGroup(member->group->key.data(), member->group->key.size(), join.group,
                 join.group_length)) {
    logger_->Log(LogLevel::kInfo, "member %d (%s) left group %s for another",
                 member->address, Who(*member).c_str(), Quoted(member->group->name).c_str());
    ++counters_.leaves;
    notices_.Leaving(*member, kLeftMovedAway);
  }
  std::string left;
  JoinResult result = registry_.Join(member->address, group_name, &left);
  if (member->path.takes_relayed) {
    if (!left.empty()) PathInfoDue(left);
    if (result == JoinResult::kJoined) PathInfoDue(group_name);
  }
  const Group* group = member->group;
  JoinOutcome outcome;
  outcome.capacity = static_cast<uint16_t>(options_.max_group_members);
  outcome.group = TrimGroupName(join.group, join.group_length);
  switch (result) {
    case JoinResult::kJoined:
    case JoinResult::kAlreadyMember:
      outcome.outcome = kJoinJoined;
      outcome.group = group->name;
      outcome.members = static_cast<uint16_t>(group->members.size());
      notices_.SendOutcome(*member, outcome);
      if (result == JoinResult::kJoined) {
        logger_->Log(LogLevel::kInfo, "member %d (%s) joined group %s (%zu of %u)",
                     member->address, Who(*member).c_str(), Quoted(group->name).c_str(),
                     group->members.size(), options_.max_group_members);
        notices_.Joined(*member);
      }
      break;
    case JoinResult::kGroupFull: {
      const Group* full = registry_.FindGroup(group_name);
      outcome.outcome = kJoinGroupFull;
      outcome.group = full->name;
      outcome.members = static_cast<uint16_t>(full->members.size());
      outcome.reason = "group " + Quoted(full->name) + " is full (" +
                       std::to_string(full->members.size()) + " of " +
                       std::to_string(options_.max_group_members) + " players)";
      RefuseJoin(member, outcome, DropReason::kJoinGroupFull);
      break;
    }
    case JoinResult::kGroupLimit:
      outcome.outcome = kJoinServerFull;
      outcome.reason = "the server holds its maximum of " +
                       std::to_string(options_.max_groups) + " groups";
      RefuseJoin(member, outcome, DropReason::kJoinGroupLimit);
      break;
    case JoinResult::kBadName:
      outcome.outcome = kJoinRefused;
      outcome.reason = "a group name needs more than spaces";
      RefuseJoin(member, outcome, DropReason::kJoinMalformed);
      break;
    case JoinResult::kUnknownMember:
      break;
  }
}

void GroupServer::RefuseJoin(Member* member, const JoinOutcome& outcome, DropReason counted) {
  drops_.Add(counted);
  logger_->Log(LogLevel::kInfo, "member %d (%s) refused from group %s: %s", member->address,
               Who(*member).c_str(), Quoted(outcome.group).c_str(), outcome.reason.c_str());
  notices_.SendOutcome(*member, outcome);
}

void GroupServer::HandleLeave(Member* member) {
  const int32_t address = member->address;
  RemoveMember(address, "ended its session", kLeftEnded);
  // Its session library will not use this connection again.
  transport_->RemoveConnection(address);
}

void GroupServer::HandleRelay(Member* member, const uint8_t* data, size_t length) {
  ++counters_.records_in;
  ++member->records_in;
  RelayRecord record;
  const RecordError error = ParseRelayRecord(data, length, &record);
  if (error != RecordError::kNone) {
    char detail[64];
    snprintf(detail, sizeof detail, "relay record of %zu bytes", length);
    Drop(DropReasonFor(error), member, detail);
    return;
  }
  Group* group = member->group;
  if (group == nullptr) {
    Drop(DropReason::kRelayNotJoined, member, "relay before any join");
    return;
  }
  if (!SameGroup(group->key.data(), group->key.size(), record.group, record.group_length)) {
    Drop(DropReason::kRelayWrongGroup, member, "record names another group");
    return;
  }
  if (!Proven(member)) {
    Drop(DropReason::kRelayUnproven, member, "connection not yet proven");
    return;
  }
  recipients_.clear();
  for (Member* other : group->members) {
    // An unproven recipient may be a forged source address: sending it a group's
    // traffic would make the server a reflector.
    if (other != member && Proven(other)) recipients_.push_back(other->address);
  }
  if (options_.max_pending != 0 &&
      transport_->UnacknowledgedCount() + transport_->SendQueueLength() + recipients_.size() >
          options_.max_pending) {
    Drop(DropReason::kRelayOverloaded, member, "too many messages pending");
    return;
  }
  uint32_t cost = recipients_.empty() ? 1 : static_cast<uint32_t>(recipients_.size());
  if (!member->bucket.Take(clock_(), cost)) {
    Drop(DropReason::kRelayRateLimited, member, "relay rate exceeded");
    return;
  }
  ++counters_.records_relayed;
  FanOut(member, record.link, record.link_length);
}

bool GroupServer::Proven(Member* member) {
  if (!member->proven) member->proven = transport_->IsProven(member->address);
  return member->proven;
}

void GroupServer::SendPeerClose(int32_t address) {
  int32_t remote = transport_->RemoteAddress(address);
  uint8_t payload[4];
  WriteU32(payload, static_cast<uint32_t>(remote));
  transport_->Send(address, payload, 4, PEERCLOSE);
}

void GroupServer::BeginShutdown() {
  if (shutting_down_) return;
  shutting_down_ = true;
  shutdown_deadline_ms_ = clock_() + options_.shutdown_wait_ms;
  logger_->Log(LogLevel::kInfo, "shutting down: closing %zu members",
               registry_.member_count());
  registry_.ForEachMember([this](Member& m) { SendPeerClose(m.address); });
}

bool GroupServer::ShutdownFinished() {
  if (!shutting_down_) return false;
  return registry_.member_count() == 0 || clock_() >= shutdown_deadline_ms_;
}

}  // namespace server
}  // namespace orb
