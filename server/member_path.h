// What the server keeps per member for relayed unicast and path info: whether the member
// asked for relayed datagrams (type 18) and path info (type 19), what its path report said,
// and its own budget for relayed unicast, apart from the broadcast budget.
#ifndef ORB_SERVER_MEMBER_PATH_H
#define ORB_SERVER_MEMBER_PATH_H

#include <stdint.h>

#include "path_info.h"
#include "token_bucket.h"

namespace orb {
namespace server {

struct MemberPath {
  bool takes_relayed = false;  // its path report set kPathTakesRelayed
  uint32_t key = 0;            // from its path report
  uint8_t candidate_count = 0;
  PathAddress candidates[kMaxPathCandidates] = {};
  bool bucket_ready = false;   // the bucket is made at the member's first report or unicast
  TokenBucket unicast_bucket{0, 1, 0};
  uint64_t unicast_in = 0;
  // Path info ordering, in the server's count of path changes: when what the group hears of
  // this member last changed, and the count its own last path info was built at (0: it has
  // been told nothing of its present group); when that was sent.
  uint64_t changed_seq = 0;
  uint64_t told_seq = 0;
  bool told = false;
  uint64_t told_ms = 0;
};

}  // namespace server
}  // namespace orb

#endif
