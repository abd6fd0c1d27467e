// The statistics line's counting: differences between two readings, and rates per second.
#include "stats_line.h"

#include <gtest/gtest.h>

namespace orb {
namespace server {
namespace {

struct RateCase {
  uint64_t count, interval_ms;
  const char* text;
};

class Rates : public ::testing::TestWithParam<RateCase> {};

TEST_P(Rates, PerSecondToOneDecimalRounded) {
  EXPECT_EQ(RateText(GetParam().count, GetParam().interval_ms), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Stats, Rates,
    ::testing::Values(RateCase{0, 60000, "0.0/s"}, RateCase{120, 60000, "2.0/s"},
                      RateCase{1, 60000, "0.0/s"}, RateCase{3, 60000, "0.1/s"},
                      RateCase{20, 10480, "1.9/s"}, RateCase{7, 0, "0.0/s"},
                      RateCase{18446744073ull, 1000, "18446744073.0/s"}));

TEST(Stats, IntervalIsTheDifferenceAndTotalsAreTheReading) {
  const StatsCounts before{3, 1, 100, 90, 180};
  const StatsCounts after{5, 2, 220, 200, 400};
  EXPECT_EQ(IntervalText(before, after, 60000),
            "last 60 s: joins=2 leaves=1 records_in=120 (2.0/s) relayed=110 (1.8/s) "
            "datagrams_out=220 (3.7/s)");
  EXPECT_EQ(TotalsText(after), "joins=5 leaves=2 records_in=220 relayed=200 datagrams_out=400");
  // Readings out of order never show a wrapped count.
  EXPECT_EQ(IntervalText(after, before, 1000),
            "last 1 s: joins=0 leaves=0 records_in=0 (0.0/s) relayed=0 (0.0/s) "
            "datagrams_out=0 (0.0/s)");
}

}  // namespace
}  // namespace server
}  // namespace orb
