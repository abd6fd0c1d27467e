// Which game sockets relayed datagrams go to: by port, once per delivery address.
#include "delivery_targets.h"

#include <gtest/gtest.h>

#include "../common/net_address.h"

#include <string.h>

#include <algorithm>
#include <vector>

namespace {

using orb_test::NetAddr;

const uint32_t kAny = 0;
const uint32_t kLoop = NetAddr(127, 0, 0, 1);
const uint32_t kOwn = NetAddr(203, 0, 113, 11);

std::vector<uint32_t> For(const DeliveryTargets& t, uint16_t port) {
  uint32_t out[DeliveryTargets::kMaxTargets];
  const int n = t.AddressesFor(port, out, static_cast<int>(DeliveryTargets::kMaxTargets));
  std::vector<uint32_t> v(out, out + n);
  std::sort(v.begin(), v.end());
  return v;
}

// One game socket, bound to an address, told of by a notice or seen sending: where does a
// datagram for its port go, and does telling twice (notice and traffic) make a second copy?
struct Case {
  const char* name;
  uint32_t bound;  // what the notice says
  uint32_t seen;   // where its link datagrams come from
  uint32_t deliver;
};

class OneSocket : public ::testing::TestWithParam<Case> {};

TEST_P(OneSocket, GetsEachDatagramOnceAtItsAddress) {
  const Case& c = GetParam();
  for (int order = 0; order < 3; ++order) {  // notice only, notice then traffic, traffic only
    DeliveryTargets t;
    if (order < 2) {
      ASSERT_TRUE(t.Bound(c.bound, 2300));
    }
    if (order > 0) {
      ASSERT_TRUE(t.Seen(c.seen, 2300));
    }
    EXPECT_EQ(For(t, 2300), std::vector<uint32_t>{c.deliver}) << c.name << " order " << order;
    EXPECT_TRUE(For(t, 2301).empty()) << "another port is no target";
    t.Closed(c.bound, 2300);
    EXPECT_TRUE(For(t, 2300).empty()) << c.name << " order " << order << ": closed";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, OneSocket,
    ::testing::Values(Case{"every address", kAny, kLoop, kLoop},
                      Case{"loopback", kLoop, kLoop, kLoop},
                      Case{"other loopback", NetAddr(127, 0, 0, 2), NetAddr(127, 0, 0, 2), NetAddr(127, 0, 0, 2)},
                      Case{"own address", kOwn, kOwn, kOwn}),
    [](const ::testing::TestParamInfo<Case>& i) {
      std::string n = i.param.name;
      std::replace(n.begin(), n.end(), ' ', '_');
      return n;
    });

TEST(DeliveryTargets, SocketsOnOnePortEachGetOneCopy) {
  DeliveryTargets t;
  t.Bound(kAny, 300);
  t.Bound(kOwn, 300);
  t.Seen(kLoop, 300);  // the wildcard socket's own traffic
  std::vector<uint32_t> want = {kLoop, kOwn};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(For(t, 300), want);
  // Two sockets sharing a pair (address reuse): the pair stays until both are closed.
  t.Bound(kAny, 300);
  t.Closed(kAny, 300);
  EXPECT_EQ(For(t, 300), want);
  t.Closed(kAny, 300);
  EXPECT_EQ(For(t, 300), std::vector<uint32_t>{kOwn});
  t.Closed(NetAddr(10, 0, 0, 1), 300);  // unknown: nothing changes
  t.Closed(kOwn, 301);
  EXPECT_EQ(t.Count(), 1u);
}

TEST(DeliveryTargets, BoundedAndRefusingPortZero) {
  DeliveryTargets t;
  EXPECT_FALSE(t.Bound(kAny, 0));
  EXPECT_FALSE(t.Seen(kLoop, 0));
  for (size_t i = 0; i < DeliveryTargets::kMaxTargets; ++i) {
    ASSERT_TRUE(t.Seen(kLoop, static_cast<uint16_t>(1000 + i)));
  }
  EXPECT_TRUE(t.Seen(kLoop, 1000)) << "a known pair needs no room";
  EXPECT_FALSE(t.Bound(kOwn, 1000));
  EXPECT_FALSE(t.Seen(kLoop, 9));
  EXPECT_TRUE(For(t, 9).empty());
  uint32_t one[1];
  EXPECT_EQ(t.AddressesFor(1000, one, 1), 1);
  EXPECT_EQ(t.AddressesFor(1000, nullptr, 1), 0);
  t.Clear();
  EXPECT_EQ(t.Count(), 0u);
  EXPECT_TRUE(For(t, 1000).empty());
}

}  // namespace
