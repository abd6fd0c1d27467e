// Resends that follow the measured round trip, their back-off, and when a party counts as
// gone, on the simulated network's clock.
#include <algorithm>

#include <gtest/gtest.h>

#include "rtt.h"
#include "test_support.h"

namespace orb {
namespace {

using test::AckPayload;
using test::Datagram;
using test::HeaderOf;
using test::Peer;

// The expected figures are the textbook ones worked out in real numbers: smoothed
// s = 7/8 s + 1/8 r, deviation v = 3/4 v + 1/4 |s - r| (the first sample r gives s = r,
// v = r / 2), first wait s + max(4 v, 20), at least 100. The estimator keeps eighths and
// quarters of a millisecond, so it may be a millisecond or two off.
struct EstimateCase {
  std::vector<uint64_t> samples;
  double smoothed, deviation, first_wait;
};

class Estimate : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(Estimate, SmoothsSamplesAndDoublesItsWaitUpToTheCeiling) {
  const EstimateCase& c = GetParam();
  RttEstimator e;
  for (uint64_t s : c.samples) e.Sample(s);
  EXPECT_EQ(e.Measured(), !c.samples.empty());
  EXPECT_NEAR(e.SmoothedMs(), c.smoothed, 1.0);
  EXPECT_NEAR(e.DeviationMs(), c.deviation, 1.0);
  const uint32_t first = e.ResendAfterMs(0);
  EXPECT_NEAR(first, c.first_wait, 2.0);
  for (int32_t tries = 1; tries < 12; ++tries) {
    const uint64_t doubled = static_cast<uint64_t>(first) << tries;
    EXPECT_EQ(e.ResendAfterMs(tries), doubled < kResendCeilingMs ? doubled : kResendCeilingMs)
        << tries;
  }
  EXPECT_EQ(e.ResendAfterMs(1000), kResendCeilingMs);  // no overflow, however many tries
}

INSTANTIATE_TEST_SUITE_P(
    Samples, Estimate,
    ::testing::Values(
        // Before any sample: 1 s.
        EstimateCase{{}, 0, 0, kResendInitialMs},
        // One sample: three times it.
        EstimateCase{{40}, 40, 20, 120},
        // A fast path is held at the 100 ms floor.
        EstimateCase{{2, 3, 2, 2}, 2.1, 0.6, 100},
        // A steady path: the deviation decays, and the wait with it, down to the round
        // trip and one tick of a far side that acknowledges on its timer.
        EstimateCase{{150, 150, 150, 150, 150, 150, 150, 150}, 150, 10.0, 190.0},
        EstimateCase{std::vector<uint64_t>(40, 150), 150, 0, 170},
        // A jittery path: s 50 -> 56.25 -> 51.09, v 25 -> 31.25 -> 33.75.
        EstimateCase{{50, 100, 15}, 51.1, 33.75, 186.1},
        // A sample beyond the ceiling counts as the ceiling.
        EstimateCase{{60000}, 10000, 5000, 10000}));

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
  EXPECT_EQ(a.t->Counters().resends, 5u);
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

// A resend whose acknowledgement comes sooner after it than the shortest round trip the
// path has shown was answered for the first copy: it was not needed, and is counted so.
// Either way the acknowledgement gives no sample.
struct LateAck {
  uint64_t after_resend_ms;
  uint64_t needless;
};

class NeedlessResend : public Backoff, public ::testing::WithParamInterface<LateAck> {};

TEST_P(NeedlessResend, IsCountedWhenTheAcknowledgementComesSoonerThanAnyRoundTrip) {
  MeasureOnce(40);  // first wait 120 ms, shortest round trip 40 ms
  a.t->Send(conn, "x", 1, 8);
  std::vector<uint64_t> at = RunTo(net.Now() + 122);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_EQ(at[1] - at[0], 121u);
  RunTo(at[1] + GetParam().after_resend_ms - 1);
  Acknowledge(a.t->MessageIdCounter());
  RunTo(at[1] + GetParam().after_resend_ms);
  EXPECT_EQ(a.t->UnacknowledgedCount(), 0u);
  EXPECT_EQ(a.t->Counters().resends, 1u);
  EXPECT_EQ(a.t->Counters().spurious_resends, GetParam().needless);
  EXPECT_EQ(a.t->RoundTripMs(conn), 40);
}

INSTANTIATE_TEST_SUITE_P(AfterTheResend, NeedlessResend,
                         ::testing::Values(LateAck{5, 1}, LateAck{39, 1}, LateAck{40, 0},
                                           LateAck{90, 0}));

// Early copies: to a connection the application vouched for (MarkDeliversOnce) that lost
// a fragment lately, each data fragment goes a second time 10 ms after the first, as no try:
// the resend still follows the round trip's wait, the round-trip sample is timed from the
// first transmission, and the late answer to a copy retires nothing else. A two-fragment
// message; its seq 1 acknowledged (then again, as the copy's answer) at ack_ms.
struct CopyCase {
  bool marked, lossy;
  uint64_t ack_ms;               // 0: never acknowledged
  std::vector<uint64_t> sends;   // data transmissions, ms after the first
};

class EarlyCopy : public Backoff, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(EarlyCopy, GoesOnceAtTheGapOnlyToAVouchedLossyParty) {
  const CopyCase& c = GetParam();
  MeasureOnce(40);  // proven; first wait 120 ms; shortest round trip 40 ms
  if (c.marked) ASSERT_TRUE(a.t->MarkDeliversOnce(conn));
  if (c.lossy) {  // a fragment whose resend was needed: acknowledged 60 ms after it
    a.t->Send(conn, "l", 1, 8);
    ASSERT_EQ(RunTo(net.Now() + 122).size(), 2u);
    net.Advance(59);
    Acknowledge(a.t->MessageIdCounter());
    RunTo(net.Now() + 1);
    ASSERT_EQ(a.t->UnacknowledgedCount(), 0u);
  }
  const TransportCounters before = a.t->Counters();
  const std::vector<uint8_t> message(MAX_FRAGMENT_PAYLOAD + 10, 'x');
  a.t->Send(conn, message.data(), static_cast<int32_t>(message.size()), 8);
  const uint32_t id = a.t->MessageIdCounter();
  const uint64_t sent = net.Now() + 1;
  std::vector<uint64_t> at;
  auto run = [&](uint64_t until) {
    for (uint64_t t : RunTo(until)) at.push_back(t - sent);
  };
  if (c.ack_ms) {
    run(sent + c.ack_ms - 1);
    Acknowledge(id);
    run(sent + c.ack_ms);
    run(sent + c.ack_ms + 9);
    Acknowledge(id);  // the other copy's answer, after its fragment retired
  }
  run(sent + 121);
  EXPECT_EQ(at, c.sends);

  const TransportCounters after = a.t->Counters();
  const size_t copies = static_cast<size_t>(std::count(c.sends.begin(), c.sends.end(), 10u));
  EXPECT_EQ(after.copies - before.copies, copies);
  EXPECT_EQ(after.resends - before.resends,
            static_cast<size_t>(std::count(c.sends.begin(), c.sends.end(), 121u)));
  EXPECT_EQ(after.spurious_resends, before.spurious_resends);
  EXPECT_EQ(after.acks_refused, before.acks_refused);
  EXPECT_EQ(a.t->UnacknowledgedCount(), c.ack_ms ? 1u : 2u);  // seq 2 waits on
  RttEstimator expected;
  expected.Sample(40);
  if (c.ack_ms) expected.Sample(c.ack_ms);  // from the first transmission, not the copy
  EXPECT_EQ(a.t->RoundTripMs(conn), static_cast<int32_t>(expected.SmoothedMs()));
}

INSTANTIATE_TEST_SUITE_P(
    Connections, EarlyCopy,
    ::testing::Values(
        // Vouched for and lossy: both fragments again at 10 ms, resent at the usual wait.
        CopyCase{true, true, 0, {0, 0, 10, 10, 121, 121}},
        // Seq 1 answered at 60 ms (its copy's answer comes later and changes nothing).
        CopyCase{true, true, 60, {0, 0, 10, 10, 121}},
        // Seq 1 answered before the gap: only seq 2 goes again.
        CopyCase{true, true, 5, {0, 0, 10, 121}},
        // Lossy but not vouched for (it may deliver a late repeat twice), or vouched for
        // on a clean path: no copies.
        CopyCase{false, true, 0, {0, 0, 121, 121}},
        CopyCase{true, false, 0, {0, 0, 121, 121}}));

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
