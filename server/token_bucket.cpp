#include "token_bucket.h"

namespace orb {
namespace server {

TokenBucket::TokenBucket(uint32_t rate_per_second, uint32_t burst, uint64_t now_ms)
    : rate_(rate_per_second),
      capacity_(static_cast<uint64_t>(burst) * 1000),
      milli_tokens_(capacity_),
      last_ms_(now_ms) {}

void TokenBucket::Refill(uint64_t now_ms) {
  if (now_ms <= last_ms_ || rate_ == 0) return;
  uint64_t elapsed = now_ms - last_ms_;
  last_ms_ = now_ms;
  // Compare before multiplying so a long idle period cannot overflow.
  if (elapsed > capacity_ / rate_) {
    milli_tokens_ = capacity_;
    return;
  }
  uint64_t added = elapsed * rate_;  // ms * tokens/s = thousandths of a token
  milli_tokens_ = capacity_ - milli_tokens_ < added ? capacity_ : milli_tokens_ + added;
}

bool TokenBucket::Take(uint64_t now_ms, uint32_t cost) {
  if (rate_ == 0) return true;
  Refill(now_ms);
  uint64_t need = static_cast<uint64_t>(cost) * 1000;
  if (milli_tokens_ < need) return false;
  milli_tokens_ -= need;
  return true;
}

}  // namespace server
}  // namespace orb
