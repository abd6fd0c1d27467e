#include "warning_limiter.h"

namespace orb {
namespace server {

WarningLimiter::WarningLimiter(size_t kinds, uint64_t interval_ms)
    : slots_(kinds), interval_ms_(interval_ms) {}

bool WarningLimiter::Allow(size_t kind, uint64_t now_ms, uint64_t* suppressed) {
  if (kind >= slots_.size()) return false;
  Slot& s = slots_[kind];
  if (s.printed && now_ms - s.last_ms < interval_ms_ && now_ms >= s.last_ms) {
    ++s.suppressed;
    return false;
  }
  *suppressed = s.suppressed;
  s.suppressed = 0;
  s.printed = true;
  s.last_ms = now_ms;
  return true;
}

}  // namespace server
}  // namespace orb
