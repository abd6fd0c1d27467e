#include "drops.h"

namespace orb {
namespace server {

const char* DropReasonName(DropReason reason) {
  switch (reason) {
    case DropReason::kJoinMalformed: return "join_malformed";
    case DropReason::kJoinGroupLimit: return "join_group_limit";
    case DropReason::kJoinGroupFull: return "join_group_full";
    case DropReason::kRelayMalformed: return "relay_malformed";
    case DropReason::kRelayLength: return "relay_length";
    case DropReason::kRelayTooShort: return "relay_too_short";
    case DropReason::kRelayOversized: return "relay_oversized";
    case DropReason::kRelayBadMagic: return "relay_bad_magic";
    case DropReason::kRelayNotJoined: return "relay_not_joined";
    case DropReason::kRelayWrongGroup: return "relay_wrong_group";
    case DropReason::kRelayUnproven: return "relay_unproven";
    case DropReason::kRelayRateLimited: return "relay_rate_limited";
    case DropReason::kRelayOverloaded: return "relay_overloaded";
    case DropReason::kUnicastMalformed: return "unicast_malformed";
    case DropReason::kUnicastNotJoined: return "unicast_not_joined";
    case DropReason::kUnicastNoTarget: return "unicast_no_target";
    case DropReason::kUnicastUnproven: return "unicast_unproven";
    case DropReason::kUnicastRateLimited: return "unicast_rate_limited";
    case DropReason::kUnicastOverloaded: return "unicast_overloaded";
    case DropReason::kPathReportMalformed: return "path_report_malformed";
    case DropReason::kUnknownType: return "unknown_type";
    case DropReason::kMemberLimit: return "member_limit";
    case DropReason::kConnectBadAddress: return "connect_bad_address";
    case DropReason::kConnectPerIpLimit: return "connect_per_ip_limit";
    case DropReason::kJoinTimeout: return "join_timeout";
    case DropReason::kCount: break;
  }
  return "unknown";
}

DropReason DropReasonFor(RecordError error) {
  switch (error) {
    case RecordError::kRelayHeader: return DropReason::kRelayMalformed;
    case RecordError::kRelayOversized: return DropReason::kRelayOversized;
    case RecordError::kRelayLength: return DropReason::kRelayLength;
    case RecordError::kRelayTooShort: return DropReason::kRelayTooShort;
    case RecordError::kRelayGroup: return DropReason::kRelayWrongGroup;
    case RecordError::kRelayMagic: return DropReason::kRelayBadMagic;
    case RecordError::kNone:
    case RecordError::kJoinSize:
    case RecordError::kJoinGroup: break;
  }
  return DropReason::kJoinMalformed;
}

uint64_t DropCounters::Total() const {
  uint64_t total = 0;
  for (uint64_t c : counts_) total += c;
  return total;
}

std::string DropCounters::Summary() const {
  std::string out;
  for (size_t i = 0; i < counts_.size(); ++i) {
    if (counts_[i] == 0) continue;
    if (!out.empty()) out += ' ';
    out += DropReasonName(static_cast<DropReason>(i));
    out += '=';
    out += std::to_string(counts_[i]);
  }
  return out.empty() ? "none" : out;
}

}  // namespace server
}  // namespace orb
