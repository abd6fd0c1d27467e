// Resends that follow the measured round trip, their back-off, and when a party counts as
// gone, on the simulated network's clock.
#include <gtest/gtest.h>

#include "rtt.h"
#include "test_support.h"

namespace orb {
namespace {

using test::AckPayload;
using test::Datagram;
using test::HeaderOf;
using test::Peer;

struct EstimateCase {
  std::vector<uint64_t> samples;
  uint32_t smoothed, deviation;
  std::vector<uint32_t> waits;  // ResendAfterMs(0), (1), ...
};

class Estimate : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(Estimate, SmoothsSamplesAndDoublesItsWaitUpToTheCeiling) {
  RttEstimator e;
  for (uint64_t s : GetParam().samples) e.Sample(s);
  EXPECT_EQ(e.Measured(), !GetParam().samples.empty());
  EXPECT_EQ(e.SmoothedMs(), GetParam().smoothed);
  EXPECT_EQ(e.DeviationMs(), GetParam().deviation);
  for (size_t tries = 0; tries < GetParam().waits.size(); ++tries)
    EXPECT_EQ(e.ResendAfterMs(static_cast<int32_t>(tries)), GetParam().waits[tries]) << tries;
  EXPECT_EQ(e.ResendAfterMs(1000), kResendCeilingMs);  // no overflow, however many tries
}

INSTANTIATE_TEST_SUITE_P(
    Samples, Estimate,
    ::testing::Values(
        // Before any sample: 1 s, then 2, 4, 8, and 10 s from there on.
        EstimateCase{{}, 0, 0, {1000, 2000, 4000, 8000, 10000, 10000}},
        // One sample of 40: deviation 20, wait 3 x 40 = 40 + 4 x 20.
        EstimateCase{{40}, 40, 20, {120, 240, 480, 960, 1920, 3840, 7680, 10000}},
        // A fast path is held at the 100 ms floor.
        EstimateCase{{2, 3, 2, 2}, 2, 1, {100, 200, 400}},
        // A steady path: the deviation decays, 3 x smoothed rules.
        EstimateCase{{60, 60, 60, 60, 60, 60, 60, 60}, 60, 5, {180, 360}},
        // A jittery path: the deviation term rules. Smoothed 50 -> 56.25 -> 51.1,
        // deviation 25 -> 31.25 -> 33.75: 51 + 4 x 34.
        EstimateCase{{50, 100, 15}, 51, 34, {187, 374}},
        // A sample beyond the ceiling counts as the ceiling.
        EstimateCase{{60000}, 10000, 5000, {10000}}));

// One transport with one open connection to a silent far side; the test plays that side.
class Backoff : public ::testing::Test {
 protected:
  Backoff() : a(net, "203.0.113.1") {
    net.SetTap(true);
    conn = a.t->Connect(a.endpoint, "198.51.100.7", 5000, 40);
    a.t->SetEventCallback(conn, EVENT_TIMEOUT, test::RecordEvent);
    a.trace.clear();
  }
  // Pumps every millisecond up to `until` (or until the connection is gone) and returns
  // the times at which data of type 8 went out.
  std::vector<uint64_t> RunTo(uint64_t until) {
    std::vector<uint64_t> at;
    while (net.Now() < until && a.t->AddressExists(conn)) {
      net.Advance(1);
      net.ClearTap();
      a.t->Pump(0);
      for (auto& d : net.Tapped())
        if (HeaderOf(d).type == 8) at.push_back(net.Now());
    }
    return at;
  }
  void Acknowledge(uint32_t id) {
    std::vector<uint8_t> ack = Datagram(900 + id, ACKNOWLEDGE, 1, 1, AckPayload(id, 8, 1));
    net.Inject(far, a.Where(), ack.data(), ack.size());
  }
  // A first message acknowledged `rtt` ms after it left: one round-trip sample.
  void MeasureOnce(uint64_t rtt) {
    a.t->Send(conn, "m", 1, 8);
    RunTo(net.Now() + 1);
    net.Advance(rtt - 1);
    Acknowledge(a.t->MessageIdCounter());
    RunTo(net.Now() + 1);
    ASSERT_EQ(a.t->UnacknowledgedCount(), 0u);
  }
  sim::Network net;
  Peer a;
  SocketAddress far{sim::Ip("198.51.100.7"), 5000};
  int32_t conn = 0;
};

TEST_F(Backoff, UnmeasuredPathDoublesFromOneSecondThenTimesOutAfterThirtySeconds) {
  a.t->Send(conn, "abc", 3, 8);
  // Each resend once "more than" its wait has passed: 1, 2, 4, 8, then 10 s.
  EXPECT_EQ(RunTo(40000), (std::vector<uint64_t>{1, 1002, 3003, 7004, 15005, 25006}));
  ASSERT_EQ(test::g_events.size(), 1u);
  EXPECT_EQ(test::g_events[0].code, EVENT_TIMEOUT);
  EXPECT_EQ(net.Now(), 30001u);  // queued at 0, nothing heard from the far side since
  EXPECT_EQ(a.t->UnacknowledgedCount(), 0u);
  const std::string where = ", 198.51.100.7:" + std::to_string(a.endpoint->local_port) + "\n";
  EXPECT_EQ(a.trace.front(), "Message 1 being resent (1 tries so far) on address 1. 3 bytes, 1 of 1" + where);
  EXPECT_EQ(a.trace.back(), "Message 1 timed out on address 1. 3 bytes, 1 of 1" + where);
}

class MeasuredBackoff : public Backoff, public ::testing::WithParamInterface<uint64_t> {};

TEST_P(MeasuredBackoff, FirstResendWaitsForTheMeasuredRoundTrip) {
  MeasureOnce(GetParam());
  RttEstimator expected;
  expected.Sample(GetParam());
  a.t->Send(conn, "x", 1, 8);
  const uint64_t sent = net.Now() + 1;
  std::vector<uint64_t> at = RunTo(sent + 25000);
  ASSERT_GE(at.size(), 3u);
  EXPECT_EQ(at[0], sent);
  EXPECT_EQ(at[1] - at[0], expected.ResendAfterMs(0) + 1u);
  EXPECT_EQ(at[2] - at[1], expected.ResendAfterMs(1) + 1u);
}

INSTANTIATE_TEST_SUITE_P(RoundTrips, MeasuredBackoff, ::testing::Values(5, 40, 400, 4000));

// What a thread that waits for datagrams is told to wake up for.
TEST_F(Backoff, NextDueNamesTheNextThingToDo) {
  EXPECT_EQ(a.t->MsToNextDue(), HEARTBEAT_INTERVAL_MS + 1u);  // the connection's heartbeat
  a.t->Send(conn, "abc", 3, 8);
  EXPECT_EQ(a.t->MsToNextDue(), 0u);  // something to transmit
  RunTo(1);
  EXPECT_EQ(a.t->MsToNextDue(), 1001u);  // the resend, at 1002
  EXPECT_TRUE(RunTo(1001).empty());
  EXPECT_EQ(a.t->MsToNextDue(), 1u);
  EXPECT_EQ(RunTo(1002).size(), 1u);
  a.t->RemoveConnection(conn);  // its fragment still times out, then nothing is left
  for (int second = 0; second < 40; ++second) {
    net.Advance(1000);
    a.t->Pump(0);
  }
  EXPECT_EQ(a.t->MsToNextDue(), UINT64_MAX);
}

// An acknowledgement of a fragment that went twice may answer the first copy: it must not
// shrink the estimate to the time since the second.
TEST_F(Backoff, RepeatedFragmentGivesNoSample) {
  a.t->Send(conn, "m", 1, 8);
  RunTo(1002);  // sent at 1, again at 1002
  Acknowledge(1);
  RunTo(1010);
  ASSERT_EQ(a.t->UnacknowledgedCount(), 0u);
  a.t->Send(conn, "x", 1, 8);
  std::vector<uint64_t> at = RunTo(3000);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_EQ(at[1] - at[0], kResendInitialMs + 1);  // still unmeasured
}

// A party that keeps talking but never acknowledges one fragment is not gone at 30 s; the
// fragment is given up (with the connection) only after kFragmentGiveUpMs.
TEST_F(Backoff, HeardFromPartyOutlivesThirtySecondsUntilTheGiveUp) {
  a.t->Send(conn, "abc", 3, 8);
  uint32_t id = 500;
  while (net.Now() < 200000 && a.t->AddressExists(conn)) {
    RunTo(net.Now() + 5000);
    std::vector<uint8_t> hb = Datagram(id++, HEARTBEAT, 1, 1, test::Word(conn));
    net.Inject(far, a.Where(), hb.data(), hb.size());
  }
  ASSERT_EQ(test::g_events.size(), 1u);
  EXPECT_EQ(net.Now(), kFragmentGiveUpMs + 1u);  // queued at 0
}

}  // namespace
}  // namespace orb
