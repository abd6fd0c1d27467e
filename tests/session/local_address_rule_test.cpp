#include "local_address_rule.h"

#include <gtest/gtest.h>

#include "../common/net_address.h"

#include <string.h>

#include <vector>

namespace {

using orb_test::NetAddr;

struct Case {
  const char* what;
  std::vector<uint32_t> list;
  const char* expected;  // "" when nothing qualifies
};

class LocalAddress : public ::testing::TestWithParam<Case> {};

TEST_P(LocalAddress, PublicFirstThenPrivateNeverUnreachable) {
  char text[128] = "myhost";
  const Case& c = GetParam();
  EXPECT_EQ(ChooseLocalAddress(c.list.data(), static_cast<int>(c.list.size()), text, sizeof text),
            c.expected[0] != '\0');
  EXPECT_STREQ(text, c.expected) << "a host name left here would parse as 255.255.255.255";
}

INSTANTIATE_TEST_SUITE_P(
    Lists, LocalAddress,
    ::testing::Values(
        Case{"public before private", {NetAddr(192, 168, 0, 5), NetAddr(10, 0, 0, 7), NetAddr(203, 0, 113, 9)},
             "203.0.113.9"},
        Case{"a home network", {NetAddr(127, 0, 0, 1), NetAddr(192, 168, 1, 20)}, "192.168.1.20"},
        Case{"first private in list order", {NetAddr(10, 0, 0, 7), NetAddr(192, 168, 0, 5)}, "10.0.0.7"},
        Case{"carrier network", {NetAddr(100, 64, 3, 4)}, "100.64.3.4"},
        Case{"unreachable ones passed over",
             {NetAddr(127, 0, 0, 1), NetAddr(0, 1, 2, 3), NetAddr(169, 254, 1, 1), NetAddr(224, 0, 0, 1),
              NetAddr(255, 255, 255, 255), NetAddr(172, 31, 0, 1)},
             "172.31.0.1"},
        Case{"172.32 is public", {NetAddr(172, 16, 0, 1), NetAddr(172, 32, 0, 1)}, "172.32.0.1"},
        Case{"nothing usable", {NetAddr(127, 0, 0, 1), NetAddr(169, 254, 9, 9)}, ""},
        Case{"nothing at all", {}, ""},
        Case{"longest text", {NetAddr(223, 255, 255, 254)}, "223.255.255.254"}),
    [](const ::testing::TestParamInfo<Case>& i) {
      std::string s = i.param.what;
      for (char& c : s) if (c == ' ' || c == '.') c = '_';
      return s;
    });

TEST(LocalAddressArguments, NoListIsNoAddressAndNoBufferIsRefused) {
  char text[128] = "myhost";
  EXPECT_FALSE(ChooseLocalAddress(nullptr, 3, text, sizeof text));
  EXPECT_STREQ(text, "");
  const uint32_t one = NetAddr(203, 0, 113, 9);
  EXPECT_FALSE(ChooseLocalAddress(&one, 1, nullptr, 0));
}

}  // namespace
