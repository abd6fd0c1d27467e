// The round trip of one connection, and the resend intervals derived from it.
//
// A lost fragment should go again soon after its acknowledgement is overdue, not after a
// fixed 10 s. The estimate is the usual smoothed one (gain 1/8 for the mean, 1/4 for the
// mean deviation; the first sample gives the mean and half of it as deviation), and the
// first resend waits
//   smoothed + max(4 x deviation, kAckTickMs), at least kResendFloorMs,
// doubling on each further try up to kResendCeilingMs. After the first sample that is 3
// round trips; on a steady path it shrinks towards the round trip plus the spread the
// path has shown. kAckTickMs is the far side's granularity: a party that pumps on its
// 20 ms timer acknowledges up to one tick late. The floor keeps a fast path from drawing
// repeats out of a momentary stall. Samples come only from fragments transmitted once (an
// acknowledgement of a repeated fragment may answer either copy), so a stall that makes
// fragments go again cannot talk the estimate down.
#ifndef ORB_TRANSPORT_RTT_H
#define ORB_TRANSPORT_RTT_H

#include <stdint.h>

namespace orb {

const uint32_t kResendFloorMs = 100;     // the shortest wait before a resend
const uint32_t kResendCeilingMs = 10000; // where the doubling stops
const uint32_t kResendInitialMs = 1000;  // the first wait before any round trip is measured
const uint32_t kAckTickMs = 20;          // how late a party on a 20 ms timer may acknowledge

class RttEstimator {
 public:
  // Takes one measured round trip in milliseconds.
  void Sample(uint64_t rtt_ms);
  // Whether any round trip was measured.
  bool Measured() const { return measured_; }
  // The smoothed round trip and its mean deviation, in milliseconds (0 before a sample).
  uint32_t SmoothedMs() const { return static_cast<uint32_t>((srtt8_ + 4) / 8); }
  uint32_t DeviationMs() const { return static_cast<uint32_t>((rttvar4_ + 2) / 4); }
  // The shortest round trip measured (0 before a sample): an acknowledgement that comes
  // sooner than this after a resend answers an earlier copy.
  uint32_t ShortestMs() const { return static_cast<uint32_t>(shortest_); }
  // How long to wait for an acknowledgement after a fragment's transmission number
  // tries + 1 (tries: resends so far) before sending it again: the first wait above,
  // doubled tries times, at most kResendCeilingMs.
  uint32_t ResendAfterMs(int32_t tries) const;

 private:
  bool measured_ = false;
  uint64_t srtt8_ = 0;    // smoothed round trip, in 1/8 ms
  uint64_t rttvar4_ = 0;  // mean deviation, in 1/4 ms: numerically 4 x deviation in ms
  uint64_t shortest_ = 0;
};

}  // namespace orb

#endif
