#include "group_server.h"

#include <string.h>

#include "bytes.h"
#include "message_types.h"
#include "records.h"

namespace orb {
namespace server {

namespace {

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
  t.max_connections = options.max_members;
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
      warnings_(static_cast<size_t>(DropReason::kCount), kWarningIntervalMs) {
  transport_.reset(new Transport(MakeTransportOptions(options_, logger_, clock_, io_, this)));
  next_stats_ms_ = clock_() + static_cast<uint64_t>(options_.stats_interval_s) * 1000;
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
               "datagrams_out=%llu drops: %s | transport: in=%llu out=%llu resends=%llu "
               "timeouts=%llu refused_connects=%llu bad_datagrams=%llu duplicates=%llu "
               "held_back=%llu",
               registry_.member_count(), registry_.group_count(),
               static_cast<unsigned long long>(counters_.records_in),
               static_cast<unsigned long long>(counters_.records_relayed),
               static_cast<unsigned long long>(counters_.datagrams_out),
               drops_.Summary().c_str(),
               static_cast<unsigned long long>(t.datagrams_received),
               static_cast<unsigned long long>(t.datagrams_sent),
               static_cast<unsigned long long>(t.resends),
               static_cast<unsigned long long>(t.timeouts),
               static_cast<unsigned long long>(t.connects_refused),
               static_cast<unsigned long long>(transport_dropped),
               static_cast<unsigned long long>(t.dropped_duplicate),
               static_cast<unsigned long long>(t.sends_suppressed));
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
    RemoveMember(old, nullptr);
    transport_->RemoveConnection(old);
  }
  Member* member = registry_.AddMember(
      address, PeerText(peer),
      TokenBucket(options_.relay_rate, options_.relay_burst, clock_()));
  if (member == nullptr) {
    Drop(DropReason::kMemberLimit, nullptr, "member limit reached, connection closed");
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

void GroupServer::RemoveMember(int32_t address, const char* how) {
  Member* member = registry_.Find(address);
  if (member == nullptr) return;
  if (how != nullptr) {
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
  std::string group_text = PrintableText(join.group, join.group_length);
  std::string left;
  JoinResult result = registry_.Join(member->address, group_name, &left);
  if (!left.empty()) {
    logger_->Log(LogLevel::kInfo, "member %d (%s) left group '%s'", member->address,
                 member->player.c_str(), PrintableText(left.data(), left.size()).c_str());
  }
  switch (result) {
    case JoinResult::kJoined: {
      const Group* group = registry_.FindGroup(group_name);
      logger_->Log(LogLevel::kInfo, "member %d (%s, %s) joined group '%s' (%zu members)",
                   member->address, member->player.c_str(), member->peer.c_str(),
                   group_text.c_str(), group ? group->members.size() : 0);
      break;
    }
    case JoinResult::kAlreadyMember:
      logger_->Log(LogLevel::kDebug, "member %d joined group '%s' again", member->address,
                   group_text.c_str());
      break;
    case JoinResult::kGroupLimit:
      Drop(DropReason::kJoinGroupLimit, member, ("group '" + group_text + "'").c_str());
      break;
    case JoinResult::kGroupFull:
      Drop(DropReason::kJoinGroupFull, member, ("group '" + group_text + "'").c_str());
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
  for (int32_t to : recipients_) {
    if (transport_->Send(to, record.link, static_cast<int32_t>(record.link_length),
                         kMsgRelay) == 0) {
      ++counters_.datagrams_out;
    }
  }
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
