// Token bucket, rate-limited warnings and drop counters: the pieces that keep one member
// or one flood from taking over the server or its log.
#include <gtest/gtest.h>

#include "drops.h"
#include "log.h"
#include "token_bucket.h"
#include "warning_limiter.h"

namespace orb {
namespace server {
namespace {

TEST(TokenBucket, StartsFullAndRefillsAtTheRate) {
  TokenBucket b(100, 10, 5000);
  EXPECT_TRUE(b.Take(5000, 10));
  EXPECT_FALSE(b.Take(5000, 1));
  EXPECT_FALSE(b.Take(5009, 1));  // 0.9 tokens
  EXPECT_TRUE(b.Take(5010, 1));
  EXPECT_FALSE(b.Take(5010, 1));
  EXPECT_TRUE(b.Take(5060, 5));
  EXPECT_FALSE(b.Take(5060, 1));
}

TEST(TokenBucket, BurstCapsSavingsAndLongIdleDoesNotOverflow) {
  TokenBucket b(1000000, 50, 0);
  EXPECT_TRUE(b.Take(0, 50));
  EXPECT_TRUE(b.Take(UINT64_MAX / 2, 50));
  EXPECT_FALSE(b.Take(UINT64_MAX / 2, 1));
  TokenBucket slow(1, 3, 0);
  slow.Take(0, 3);
  EXPECT_TRUE(slow.Take(UINT64_MAX, 3));
  EXPECT_EQ(slow.available(), 0u);
}

TEST(TokenBucket, SlowRatesRefillInFractions) {
  TokenBucket b(3, 3, 0);
  ASSERT_TRUE(b.Take(0, 3));
  EXPECT_FALSE(b.Take(333, 1));
  EXPECT_TRUE(b.Take(334, 1));
}

TEST(TokenBucket, ClockGoingBackRefillsNothing) {
  TokenBucket b(1000, 5, 10000);
  ASSERT_TRUE(b.Take(10000, 5));
  EXPECT_FALSE(b.Take(9000, 1));
  EXPECT_FALSE(b.Take(10000, 1));
  EXPECT_TRUE(b.Take(10001, 1));
}

TEST(TokenBucket, RateZeroIsUnlimitedAndCostAboveBurstNeverPasses) {
  TokenBucket unlimited(0, 1, 0);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(unlimited.Take(0, 1000));
  TokenBucket b(10, 5, 0);
  EXPECT_FALSE(b.Take(1000000, 6));
  EXPECT_TRUE(b.Take(1000000, 5));
}

TEST(WarningLimiter, OneLinePerKindPerIntervalWithTheCountHeldBack) {
  WarningLimiter w(3, 10000);
  uint64_t held = 99;
  EXPECT_TRUE(w.Allow(0, 100, &held));
  EXPECT_EQ(held, 0u);
  EXPECT_FALSE(w.Allow(0, 200, &held));
  EXPECT_FALSE(w.Allow(0, 10099, &held));
  EXPECT_TRUE(w.Allow(1, 300, &held));  // kinds are independent
  EXPECT_TRUE(w.Allow(0, 10100, &held));
  EXPECT_EQ(held, 2u);
  EXPECT_FALSE(w.Allow(0, 10101, &held));
  EXPECT_TRUE(w.Allow(0, 5, &held));  // a clock that went back does not silence it forever
  EXPECT_FALSE(w.Allow(7, 0, &held));
}

TEST(DropCounters, SummaryNamesEveryNonZeroReason) {
  DropCounters d;
  EXPECT_EQ(d.Summary(), "none");
  d.Add(DropReason::kRelayLength);
  d.Add(DropReason::kRelayLength);
  d.Add(DropReason::kMemberLimit);
  EXPECT_EQ(d.Summary(), "relay_length=2 member_limit=1");
  EXPECT_EQ(d.Total(), 3u);
  for (int i = 0; i < static_cast<int>(DropReason::kCount); ++i) {
    EXPECT_STRNE(DropReasonName(static_cast<DropReason>(i)), "unknown");
  }
}

TEST(Logger, LevelsFilterAndNetworkTextIsMadePrintable) {
  std::vector<std::string> lines;
  Logger log([&](LogLevel level, const char* text) {
    lines.push_back(std::string(LogLevelName(level)) + " " + text);
  });
  log.set_level(LogLevel::kWarn);
  log.Log(LogLevel::kInfo, "hidden %d", 1);
  log.Log(LogLevel::kWarn, "shown %s", "w");
  log.Log(LogLevel::kError, "%s", std::string(5000, 'e').c_str());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "WARN shown w");
  EXPECT_EQ(lines[1].size(), 6u + 1023u);  // cut, not overrun
  EXPECT_EQ(PrintableText("a\0b\x7f\xff", 5), "a?b??");
  EXPECT_EQ(PrintableText("abcdef", 6, 3), "abc");
  EXPECT_EQ(PrintableText("a\nb\x1b[2J", 7), "a?b?[2J");  // a player name from a join record
  LogLevel l;
  EXPECT_TRUE(ParseLogLevel("debug", &l));
  EXPECT_EQ(l, LogLevel::kDebug);
  EXPECT_FALSE(ParseLogLevel("DEBUG", &l));
}

}  // namespace
}  // namespace server
}  // namespace orb
