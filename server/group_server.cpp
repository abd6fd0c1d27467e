#include "group_server.h"

#include <string.h>

#include <algorithm>

#include "bytes.h"
#include "message_types.h"
#include "records.h"
#include "stats_line.h"

namespace orb {
namespace server {

namespace {

const size_t kIncompleteBytesPerMember = 32 * 1024;
const size_t kDatagramsPerPass = 2048;
const size_t kUnprovenPerIp = 8;

// Connections held at most: the members, the pool of unproven ones, and a little room for
// a member and the connection that is about to replace it, or a player who is told that
// the server is full before it is closed.
size_t ConnectionCap(const ServerOptions& o) {
  return static_cast<size_t>(o.max_members) + o.max_unproven + 16;
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
  t.max_connections = ConnectionCap(options);
  // A member needs a few unfinished messages at a time (the largest relay record is two
  // fragments); bounding each member, with room for all of them in total, means a member
  // that sends halves of messages holds back nobody but itself.
  t.max_incomplete_bytes_per_connection = kIncompleteBytesPerMember;
  t.max_incomplete_bytes_total = kIncompleteBytesPerMember * t.max_connections;
  // A flood that arrives as fast as the server reads must not keep one pass receiving for
  // ever: members' messages are delivered, sent and resent between bounded reads.
  t.max_datagrams_per_pass = kDatagramsPerPass;
  t.reuse_repeated_connect = true;
  t.anti_amplification = true;
  // A forged PEERCLOSE or CONFIRM_DISCONNECT naming a guessed address would otherwise
  // disconnect somebody else's member.
  t.check_control_source = true;
  return t;
}

}  // namespace

std::string Who(const Member& m) {
  return (m.player.empty() ? std::string("no name") : m.player) + ", " + m.peer;
}

std::string PeerText(const SocketAddress& a) {
  char ip[16];
  FormatIPv4(a.ip, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(a.port);
}

GroupServer::GroupServer(const ServerOptions& options, Logger* logger,
                         std::function<uint64_t()> clock, DatagramIo* io,
                         const ChallengeKey* challenge_key)
    : options_(options),
      logger_(logger),
      clock_(clock ? std::move(clock) : std::function<uint64_t()>(MonotonicMs)),
      io_(io),
      registry_(RegistryLimits{ConnectionCap(options), options.max_groups,
                               options.max_group_members}),
      admission_(AdmissionLimits{options.max_members, options.max_per_ip, options.max_unproven,
                                 std::min<size_t>(kUnprovenPerIp, options.max_unproven)}),
      notices_(nullptr, &registry_),
      warnings_(static_cast<size_t>(DropReason::kCount), kWarningIntervalMs) {
  TransportOptions t = MakeTransportOptions(options_, logger_, clock_, io_, this);
  t.challenge = true;
  t.challenge_key = challenge_key ? *challenge_key : RandomChallengeKey();
  transport_.reset(new Transport(t));
  notices_ = MembershipNotices(transport_.get(), &registry_);
  last_stats_ms_ = clock_();
  next_stats_ms_ = last_stats_ms_ + static_cast<uint64_t>(options_.stats_interval_s) * 1000;
  next_sweep_ms_ = last_stats_ms_ + kSweepIntervalMs;
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
  if (clock_() >= next_sweep_ms_) {
    SweepJoinTimeouts();
    next_sweep_ms_ = clock_() + kSweepIntervalMs;
  }
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
  const uint64_t now = clock_();
  StatsCounts before{counters_at_last_stats_.joins, counters_at_last_stats_.leaves,
                     counters_at_last_stats_.records_in, counters_at_last_stats_.records_relayed,
                     counters_at_last_stats_.datagrams_out};
  StatsCounts after{counters_.joins, counters_.leaves, counters_.records_in,
                    counters_.records_relayed, counters_.datagrams_out};
  logger_->Log(LogLevel::kInfo,
               "stats: members=%zu unconfirmed=%zu groups=%zu | %s | totals: %s drops: %s | "
               "unicast: in=%llu relayed=%llu path_reports=%llu path_infos=%llu | "
               "transport: in=%llu out=%llu resends=%llu copies=%llu spurious_resends=%llu timeouts=%llu "
               "refused_connects=%llu "
               "bad_datagrams=%llu duplicates=%llu held_back=%llu answered_statelessly=%llu "
               "proven_by_answer=%llu acks_refused=%llu",
               // Only proven connections are members: a forged CONNECT is nobody.
               admission_.members(), admission_.unproven(), registry_.group_count(),
               IntervalText(before, after, now - last_stats_ms_).c_str(),
               TotalsText(after).c_str(), drops_.Summary().c_str(),
               static_cast<unsigned long long>(counters_.unicast_in),
               static_cast<unsigned long long>(counters_.unicast_relayed),
               static_cast<unsigned long long>(counters_.path_reports),
               static_cast<unsigned long long>(counters_.path_infos_out),
               static_cast<unsigned long long>(t.datagrams_received),
               static_cast<unsigned long long>(t.datagrams_sent),
               static_cast<unsigned long long>(t.resends),
               static_cast<unsigned long long>(t.copies),
               static_cast<unsigned long long>(t.spurious_resends),
               static_cast<unsigned long long>(t.timeouts),
               static_cast<unsigned long long>(t.connects_refused),
               static_cast<unsigned long long>(transport_dropped),
               static_cast<unsigned long long>(t.dropped_duplicate),
               static_cast<unsigned long long>(t.sends_suppressed),
               static_cast<unsigned long long>(t.connects_challenged),
               static_cast<unsigned long long>(t.challenges_proven),
               static_cast<unsigned long long>(t.acks_refused));
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

void GroupServer::RemoveMember(int32_t address, const char* how, LeaveReason why) {
  Member* member = registry_.Find(address);
  if (member == nullptr) return;
  // Connections that never proved their address are not worth a line each: under a
  // flood of forged CONNECTs they come and go by the hundred.
  if (how != nullptr && (member->proven || logger_->Enabled(LogLevel::kDebug))) {
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
  admission_.Remove(static_cast<uint32_t>(member->socket_key >> 16), member->proven);
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
  if (!Proven(member)) {
    // An unproven connection may be a forged address: it takes no place in a group, and
    // is told nothing, until it proves itself (OnProven joins it then).
    member->pending_group = group_name;
    return;
  }
  JoinGroup(member, group_name);
}

void GroupServer::JoinGroup(Member* member, const std::string& name) {
  std::string left_text;
  if (member->group != nullptr &&
      !SameGroup(member->group->key.data(), member->group->key.size(), name.data(),
                 name.size())) {
    left_text = "left group " + Quoted(member->group->name) + " for another, ";
    ++counters_.leaves;
    notices_.Leaving(*member, kLeftMovedAway);
  }
  std::string left;
  JoinResult result = registry_.Join(member->address, name, &left);
  if (member->path.takes_relayed) {
    if (!left.empty()) PathInfoDue(left);
    if (result == JoinResult::kJoined) {
      member->path.told_seq = 0;  // what it was told was of another group
      PathChanged(member);
    }
  }
  const Group* group = member->group;
  JoinOutcome outcome;
  outcome.capacity = static_cast<uint16_t>(options_.max_group_members);
  outcome.group = TrimGroupName(name.data(), name.size());
  switch (result) {
    case JoinResult::kJoined:
    case JoinResult::kAlreadyMember:
      outcome.outcome = kJoinJoined;
      outcome.group = group->name;
      outcome.members = static_cast<uint16_t>(group->members.size());
      notices_.SendOutcome(*member, outcome);
      if (result == JoinResult::kJoined) {
        member->ever_joined = true;
        JoinLine(member, LogLevel::kInfo,
                 left_text + "joined group " + Quoted(group->name) + " (" +
                     std::to_string(group->members.size()) + " of " +
                     std::to_string(options_.max_group_members) + ")");
        notices_.Joined(*member);
      } else {
        JoinLine(member, LogLevel::kDebug, "joined group " + Quoted(group->name) + " again");
      }
      break;
    case JoinResult::kGroupFull: {
      const Group* full = registry_.FindGroup(name);
      outcome.outcome = kJoinGroupFull;
      outcome.group = full->name;
      outcome.members = static_cast<uint16_t>(full->members.size());
      outcome.reason = "group " + Quoted(full->name) + " is full (" +
                       std::to_string(full->members.size()) + " of " +
                       std::to_string(options_.max_group_members) + " players)";
      RefuseJoin(member, outcome, DropReason::kJoinGroupFull, left_text);
      break;
    }
    case JoinResult::kGroupLimit:
      outcome.outcome = kJoinServerFull;
      outcome.reason = "the server holds its maximum of " +
                       std::to_string(options_.max_groups) + " groups";
      RefuseJoin(member, outcome, DropReason::kJoinGroupLimit, left_text);
      break;
    case JoinResult::kBadName:
      outcome.outcome = kJoinRefused;
      outcome.reason = "a group name needs more than spaces";
      RefuseJoin(member, outcome, DropReason::kJoinMalformed, left_text);
      break;
    case JoinResult::kUnknownMember:
      break;
  }
}

void GroupServer::RefuseJoin(Member* member, const JoinOutcome& outcome, DropReason counted,
                             const std::string& left_text) {
  drops_.Add(counted);
  JoinLine(member, LogLevel::kInfo,
           left_text + "refused from group " + Quoted(outcome.group) + ": " + outcome.reason);
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
  if (!Proven(member)) {
    Drop(DropReason::kRelayUnproven, member, "connection not yet proven");
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
  recipients_.clear();
  backlogged_.clear();
  for (Member* other : group->members) {
    // An unproven recipient may be a forged source address: sending it a group's
    // traffic would make the server a reflector.
    if (other == member || !Proven(other)) continue;
    // A recipient that does not keep up loses its own copies; the others still get theirs.
    if (Backlogged(other->address, record.link_length))
      backlogged_.push_back(other);
    else
      recipients_.push_back(other->address);
  }
  uint32_t cost = recipients_.empty() ? 1 : static_cast<uint32_t>(recipients_.size());
  if (!member->bucket.Take(clock_(), cost)) {
    Drop(DropReason::kRelayRateLimited, member, "relay rate exceeded");
    return;
  }
  ++counters_.records_relayed;
  for (Member* other : backlogged_) {
    Drop(DropReason::kRelayOverloaded, other, "too many messages waiting for this member");
  }
  FanOut(member, record.link, record.link_length);
}

bool GroupServer::Backlogged(int32_t address, size_t adding) {
  if (options_.max_pending != 0 && transport_->PendingFragments(address) >= options_.max_pending)
    return true;
  return options_.max_pending_bytes != 0 &&
         transport_->PendingBytes(address) + adding > options_.max_pending_bytes;
}

bool GroupServer::Proven(Member* member) { return member->proven; }  // set by OnProven

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
