// The stateless answer to a CONNECT: the keyed hash, and which acknowledgements check out.
#include <gtest/gtest.h>

#include "challenge.h"
#include "platform.h"

namespace orb {
namespace {

TEST(SipHash, ReferenceVectors) {
  ChallengeKey key;
  key.k0 = 0x0706050403020100ull;
  key.k1 = 0x0F0E0D0C0B0A0908ull;
  uint8_t m[15];
  for (int i = 0; i < 15; ++i) m[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(SipHash24(key, m, 0), 0x726fdb47dd0e0e31ull);
  EXPECT_EQ(SipHash24(key, m, 15), 0xa129ca6149be45e5ull);
}

const uint64_t kMade = 5000000;  // the clock when the answer was made
const uint16_t kPort = 4000;

struct CheckCase {
  const char* name;
  int32_t remote;        // in the CONNECT
  const char* ack_ip;    // where the acknowledgement came from
  uint16_t ack_port;
  uint64_t later_ms;     // after the answer was made
  uint64_t key_k0;
  bool good;
  int32_t learnt;        // the CONNECT's address as recovered
};
class ChallengeCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ChallengeCheckTest, OnlyTheAnsweredSocketWithinItsLifetime) {
  const CheckCase& c = GetParam();
  ChallengeKey key;
  key.k0 = 0x1234;
  key.k1 = 0x5678;
  const Challenge made = MakeChallenge(key, ParseIPv4("203.0.113.5"), kPort, c.remote, kMade);
  EXPECT_GE(made.accepting_address, 1 << 30);
  ChallengeKey check = key;
  check.k0 = c.key_k0;
  int32_t remote = -1, accepting = -1;
  ASSERT_EQ(CheckChallenge(check, ParseIPv4(c.ack_ip), c.ack_port, made.message_id,
                           kMade + c.later_ms, &remote, &accepting),
            c.good);
  if (!c.good) return;
  EXPECT_EQ(remote, c.learnt);
  EXPECT_EQ(accepting, made.accepting_address);
}

INSTANTIATE_TEST_SUITE_P(
    Acks, ChallengeCheckTest,
    ::testing::Values(
        CheckCase{"SameSocket", 1, "203.0.113.5", kPort, 100, 0x1234, true, 1},
        CheckCase{"AddressThatFitsTheId", 255, "203.0.113.5", kPort, 100, 0x1234, true, 255},
        CheckCase{"AddressTooLargeIsLearntLater", 300, "203.0.113.5", kPort, 100, 0x1234, true, 0},
        CheckCase{"NextEpoch", 1, "203.0.113.5", kPort, 32768, 0x1234, true, 1},
        CheckCase{"TwoEpochsLater", 1, "203.0.113.5", kPort, 65536 + 32768, 0x1234, false, 0},
        CheckCase{"OtherPort", 1, "203.0.113.5", kPort + 1, 100, 0x1234, false, 0},
        CheckCase{"OtherAddress", 1, "203.0.113.6", kPort, 100, 0x1234, false, 0},
        CheckCase{"OtherKey", 1, "203.0.113.5", kPort, 100, 0x1235, false, 0}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orb
