// Per-member relay budget: `rate` tokens per second, at most `burst` saved up.
// Time is passed in, in milliseconds of a monotonic clock, so tests need no sleeping.
// Tokens are kept in thousandths, so rates below 1000 per second refill smoothly
// without floating point.
#ifndef ORB_SERVER_TOKEN_BUCKET_H
#define ORB_SERVER_TOKEN_BUCKET_H

#include <stdint.h>

namespace orb {
namespace server {

class TokenBucket {
 public:
  // A rate of 0 means unlimited. The bucket starts full.
  TokenBucket(uint32_t rate_per_second, uint32_t burst, uint64_t now_ms);

  // Takes `cost` tokens when that many are there and returns true; otherwise takes
  // nothing and returns false. A clock that goes backwards refills nothing.
  bool Take(uint64_t now_ms, uint32_t cost);

  // Whole tokens available at the last refill (for tests and diagnostics).
  uint64_t available() const { return milli_tokens_ / 1000; }

 private:
  void Refill(uint64_t now_ms);

  uint64_t rate_;       // tokens per second
  uint64_t capacity_;   // burst, in thousandths
  uint64_t milli_tokens_;
  uint64_t last_ms_;
};

}  // namespace server
}  // namespace orb

#endif
