#include "rtt.h"

namespace orb {

void RttEstimator::Sample(uint64_t rtt_ms) {
  // Anything beyond the ceiling says no more than the ceiling (and keeps the sums small).
  if (rtt_ms > kResendCeilingMs) rtt_ms = kResendCeilingMs;
  if (!measured_) {
    measured_ = true;
    srtt8_ = rtt_ms * 8;
    rttvar4_ = rtt_ms * 2;  // half the first sample
    shortest_ = rtt_ms;
    return;
  }
  if (rtt_ms < shortest_) shortest_ = rtt_ms;
  const uint64_t r8 = rtt_ms * 8;
  const uint64_t error8 = r8 > srtt8_ ? r8 - srtt8_ : srtt8_ - r8;
  rttvar4_ = rttvar4_ - rttvar4_ / 4 + error8 / 8;  // 3/4 old + 1/4 |error|, in 1/4 ms
  srtt8_ = srtt8_ - srtt8_ / 8 + rtt_ms;            // 7/8 old + 1/8 sample, in 1/8 ms
}

uint32_t RttEstimator::ResendAfterMs(int32_t tries) const {
  uint64_t wait = kResendInitialMs;
  if (measured_) {
    wait = (srtt8_ + 4) / 8 + (rttvar4_ > kAckTickMs ? rttvar4_ : kAckTickMs);
    if (wait < kResendFloorMs) wait = kResendFloorMs;
  }
  for (int32_t i = 0; i < tries && wait < kResendCeilingMs; ++i) wait *= 2;
  return static_cast<uint32_t>(wait < kResendCeilingMs ? wait : kResendCeilingMs);
}

}  // namespace orb
