#include "group_server.h"

#include <string.h>

#include <algorithm>

#include "bytes.h"
#include "message_types.h"
#include "records.h"

namespace orb {
namespace server {

namespace {

const size_t kIncompleteBytesPerMember = 32 * 1024;
const size_t kDatagramsPerPass = 2048;
const size_t kUnprovenPerIp = 8;

// Connections held at most: the members, the pool of unproven ones, and a little room for
// a member and the connection that is about to replace it.
size_t ConnectionCap(const ServerOptions& o) {
  return static_cast<size_t>(o.max_members) + o.max_unproven + 16;
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
      warnings_(static_cast<size_t>(DropReason::kCount), kWarningIntervalMs) {
  TransportOptions t = MakeTransportOptions(options_, logger_, clock_, io_, this);
  t.challenge = true;
  t.challenge_key = challenge_key ? *challenge_key : RandomChallengeKey();
  transport_.reset(new Transport(t));
  next_stats_ms_ = clock_() + static_cast<uint64_t>(options_.stats_interval_s) * 1000;
  next_sweep_ms_ = clock_() + kSweepIntervalMs;
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

void GroupServer::RunOnce() {
  transport_->Pump(0);
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
  logger_->Log(LogLevel::kInfo,
               "stats: members=%zu groups=%zu records_in=%llu relayed=%llu "
               "datagrams_out=%llu drops: %s | unicast: in=%llu relayed=%llu "
               "path_reports=%llu path_infos=%llu | transport: in=%llu out=%llu resends=%llu "
               "timeouts=%llu refused_connects=%llu bad_datagrams=%llu duplicates=%llu "
               "held_back=%llu unproven=%zu answered_statelessly=%llu proven_by_answer=%llu "
               "acks_refused=%llu",
               registry_.member_count(), registry_.group_count(),
               static_cast<unsigned long long>(counters_.records_in),
               static_cast<unsigned long long>(counters_.records_relayed),
               static_cast<unsigned long long>(counters_.datagrams_out),
               drops_.Summary().c_str(),
               static_cast<unsigned long long>(counters_.unicast_in),
               static_cast<unsigned long long>(counters_.unicast_relayed),
               static_cast<unsigned long long>(counters_.path_reports),
               static_cast<unsigned long long>(counters_.path_infos_out),
               static_cast<unsigned long long>(t.datagrams_received),
               static_cast<unsigned long long>(t.datagrams_sent),
               static_cast<unsigned long long>(t.resends),
               static_cast<unsigned long long>(t.timeouts),
               static_cast<unsigned long long>(t.connects_refused),
               static_cast<unsigned long long>(transport_dropped),
               static_cast<unsigned long long>(t.dropped_duplicate),
               static_cast<unsigned long long>(t.sends_suppressed), admission_.unproven(),
               static_cast<unsigned long long>(t.connects_challenged),
               static_cast<unsigned long long>(t.challenges_proven),
               static_cast<unsigned long long>(t.acks_refused));
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

void GroupServer::RemoveMember(int32_t address, const char* how) {
  Member* member = registry_.Find(address);
  if (member == nullptr) return;
  // Connections that never proved their address are not worth a line each: under a
  // flood of forged CONNECTs they come and go by the hundred.
  if (how != nullptr && (member->proven || logger_->Enabled(LogLevel::kDebug))) {
    const char* group = member->group ? member->group->name.c_str() : nullptr;
    std::string printable =
        group ? PrintableText(group, strlen(group)) : std::string();
    logger_->Log(LogLevel::kInfo, "member %d (%s, %s) %s%s%s%s", address,
                 member->player.empty() ? "no name" : member->player.c_str(),
                 member->peer.c_str(), how, group ? ", left group '" : "",
                 printable.c_str(), group ? "'" : "");
  }
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
      RemoveMember(address, "closed the connection");
      transport_->RemoveConnection(address);
      break;
    case EVENT_DISCONNECTED:
      RemoveMember(address, "disconnected");
      break;
    case EVENT_TIMEOUT:
      RemoveMember(address, "timed out");
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
    member->pending_group = group_name;  // joins once the connection is proven
    return;
  }
  JoinGroup(member, group_name);
}

void GroupServer::JoinGroup(Member* member, const std::string& name) {
  std::string group_text = PrintableText(name.data(), name.size());
  std::string left;
  JoinResult result = registry_.Join(member->address, name, &left);
  if (member->path.takes_relayed) {
    if (!left.empty()) PathInfoDue(left);
    if (result == JoinResult::kJoined) PathInfoDue(name);
  }
  std::string left_text;
  if (!left.empty()) left_text = ", left group '" + PrintableText(left.data(), left.size()) + "'";
  std::string held;
  switch (result) {
    case JoinResult::kJoined: {
      member->ever_joined = true;
      const Group* group = registry_.FindGroup(name);
      if (JoinLineDue(member, &held)) {
        logger_->Log(LogLevel::kInfo, "member %d (%s, %s) joined group '%s' (%zu members)%s%s",
                     member->address, member->player.c_str(), member->peer.c_str(),
                     group_text.c_str(), group ? group->members.size() : 0, left_text.c_str(),
                     held.c_str());
      }
      break;
    }
    case JoinResult::kAlreadyMember:
      if (logger_->Enabled(LogLevel::kDebug) && JoinLineDue(member, &held)) {
        logger_->Log(LogLevel::kDebug, "member %d joined group '%s' again%s", member->address,
                     group_text.c_str(), held.c_str());
      }
      break;
    case JoinResult::kGroupLimit:
    case JoinResult::kGroupFull:
      if (!left_text.empty() && JoinLineDue(member, &held)) {
        logger_->Log(LogLevel::kInfo, "member %d (%s, %s) is in no group%s%s", member->address,
                     member->player.c_str(), member->peer.c_str(), left_text.c_str(),
                     held.c_str());
      }
      Drop(result == JoinResult::kGroupFull ? DropReason::kJoinGroupFull
                                            : DropReason::kJoinGroupLimit,
           member, ("group '" + group_text + "'").c_str());
      break;
    case JoinResult::kUnknownMember:
      break;
  }
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
  if (group->name.size() != record.group_length ||
      memcmp(group->name.data(), record.group, record.group_length) != 0) {
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
