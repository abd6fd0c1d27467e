// Why the server refused a piece of input, and how often. Every refusal is counted under
// exactly one reason; the statistics line and the tests read these counters.
#ifndef ORB_SERVER_DROPS_H
#define ORB_SERVER_DROPS_H

#include <stdint.h>

#include <array>
#include <string>

#include "records.h"

namespace orb {
namespace server {

enum class DropReason {
  kJoinMalformed,      // join record not 92 bytes, or group name empty or unterminated
  kJoinGroupLimit,     // joining would create a group beyond --max-groups
  kJoinGroupFull,      // the group already has --max-group-members members
  kRelayMalformed,     // shorter than the 72-byte relay header
  kRelayLength,        // n in the header disagrees with the bytes that arrived
  kRelayTooShort,      // n is 12 or less: no game data behind the link header
  kRelayOversized,     // n above the largest link datagram (2060 bytes)
  kRelayBadMagic,      // the link datagram does not begin with F9 F9 F9 F9
  kRelayNotJoined,     // relay from a member that has joined no group
  kRelayWrongGroup,    // the record names another group than the member's own
  kRelayUnproven,      // the member has not yet acknowledged our CONFIRM_CONNECT
  kRelayRateLimited,   // the member's token bucket is empty
  kRelayOverloaded,    // the recipient already has --max-pending(-bytes) waiting: its copy
  kUnicastMalformed,   // relayed unicast without a member number and a link datagram
  kUnicastNotJoined,   // relayed unicast from a member in no group
  kUnicastNoTarget,    // the receiver is unknown, in another group, or takes no relays
  kUnicastUnproven,    // sender or receiver has not yet acknowledged our CONFIRM_CONNECT
  kUnicastRateLimited, // the member's relayed-unicast token bucket is empty
  kUnicastOverloaded,  // the receiver already has --max-pending(-bytes) waiting
  kPathReportMalformed,  // a path report whose length disagrees with its candidates
  kUnknownType,        // a data message of a type this server does not serve
  kMemberLimit,        // a new connection beyond --max-members
  kConnectBadAddress,  // a CONNECT whose connecting-side address is 0 or less
  kConnectPerIpLimit,  // a CONNECT from an address that already has --max-per-ip members
  kJoinTimeout,        // connected, but joined no group within --join-timeout
  kCount
};

const char* DropReasonName(DropReason reason);

// The reason a record refused by its parser is counted under (never kNone).
DropReason DropReasonFor(RecordError error);

class DropCounters {
 public:
  void Add(DropReason reason) { ++counts_[static_cast<size_t>(reason)]; }
  uint64_t Get(DropReason reason) const { return counts_[static_cast<size_t>(reason)]; }
  uint64_t Total() const;
  // "name=count" for every non-zero reason, separated by spaces; "none" when all are 0.
  std::string Summary() const;

 private:
  std::array<uint64_t, static_cast<size_t>(DropReason::kCount)> counts_{};
};

}  // namespace server
}  // namespace orb

#endif
