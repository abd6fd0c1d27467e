// Keeps hostile or broken peers from flooding the operator log: at most one warning per
// kind in each interval; the next one printed says how many were held back.
#ifndef ORB_SERVER_WARNING_LIMITER_H
#define ORB_SERVER_WARNING_LIMITER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace orb {
namespace server {

class WarningLimiter {
 public:
  WarningLimiter(size_t kinds, uint64_t interval_ms);

  // True when a warning of this kind may be printed now; *suppressed then receives the
  // number held back since the last one printed. False (and one more held back) otherwise.
  bool Allow(size_t kind, uint64_t now_ms, uint64_t* suppressed);

 private:
  struct Slot {
    bool printed = false;
    uint64_t last_ms = 0;
    uint64_t suppressed = 0;
  };
  std::vector<Slot> slots_;
  uint64_t interval_ms_;
};

}  // namespace server
}  // namespace orb

#endif
