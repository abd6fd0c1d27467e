// The round trip of one connection, and the resend intervals derived from it.
//
// A lost fragment should go again soon after its acknowledgement is overdue, not after a
// fixed 10 s: the estimate follows the measured round trips (smoothed as TCP does, gain
// 1/8 for the mean and 1/4 for the mean deviation) and the first resend waits
//   max(100 ms, 3 x smoothed round trip, smoothed + 4 x deviation),
// doubling on each further try up to 10 s. The factor 3 and the deviation term keep
// resends of fragments whose acknowledgement is merely late rare on a jittery path; the
// 100 ms floor keeps a party that acknowledges in its own timer tick (up to 20 ms late)
// from drawing repeats on a fast path. Samples come only from fragments transmitted once
// (an acknowledgement of a repeated fragment may answer either copy).
#ifndef ORB_TRANSPORT_RTT_H
#define ORB_TRANSPORT_RTT_H

#include <stdint.h>

namespace orb {

const uint32_t kResendFloorMs = 100;     // the shortest wait before a resend
const uint32_t kResendCeilingMs = 10000; // where the doubling stops
const uint32_t kResendInitialMs = 1000;  // the first wait before any round trip is measured

class RttEstimator {
 public:
  // Takes one measured round trip in milliseconds.
  void Sample(uint64_t rtt_ms);
  // Whether any round trip was measured.
  bool Measured() const { return measured_; }
  // The smoothed round trip and its mean deviation, in milliseconds (0 before a sample).
  uint32_t SmoothedMs() const { return static_cast<uint32_t>((srtt8_ + 4) / 8); }
  uint32_t DeviationMs() const { return static_cast<uint32_t>((rttvar4_ + 2) / 4); }
  // How long to wait for an acknowledgement after a fragment's transmission number
  // tries + 1 (tries: resends so far) before sending it again: the first wait above,
  // doubled tries times, at most kResendCeilingMs.
  uint32_t ResendAfterMs(int32_t tries) const;

 private:
  bool measured_ = false;
  uint64_t srtt8_ = 0;    // smoothed round trip, in 1/8 ms
  uint64_t rttvar4_ = 0;  // mean deviation, in 1/4 ms
};

}  // namespace orb

#endif
