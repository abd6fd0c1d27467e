#include "local_address_rule.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  memcpy(&v, bytes, 4);
  return v;
}

TEST(LocalAddress, FirstQualifyingAddressInListOrder) {
  const uint32_t list[] = {Ip(192, 168, 0, 5), Ip(10, 0, 0, 7), Ip(203, 0, 113, 9)};
  char text[128] = "myhost";
  EXPECT_TRUE(ChooseLocalAddress(list, 3, text, sizeof text));
  EXPECT_STREQ(text, "10.0.0.7");
}

TEST(LocalAddress, OnlyTheFirstNumberDecides) {
  const uint32_t list[] = {Ip(127, 0, 0, 1), Ip(0, 1, 2, 3), Ip(169, 254, 1, 1), Ip(192, 0, 2, 1),
                           Ip(172, 16, 0, 1)};
  char text[128] = "myhost";
  EXPECT_TRUE(ChooseLocalAddress(list, 5, text, sizeof text));
  EXPECT_STREQ(text, "172.16.0.1");
}

TEST(LocalAddress, NoQualifyingAddressKeepsTheHostName) {
  const uint32_t list[] = {Ip(127, 0, 0, 1), Ip(192, 168, 1, 2), Ip(10, 0, 0, 1)};
  char text[128] = "myhost";
  EXPECT_FALSE(ChooseLocalAddress(list, 2, text, sizeof text));  // the third is beyond count
  EXPECT_STREQ(text, "myhost");
  EXPECT_FALSE(ChooseLocalAddress(nullptr, 3, text, sizeof text));
  EXPECT_FALSE(ChooseLocalAddress(list, 0, text, sizeof text));
  EXPECT_STREQ(text, "myhost");
}

TEST(LocalAddress, LongestTextFitsItsBuffer) {
  const uint32_t list[] = {Ip(255, 255, 255, 254)};
  char text[16];
  EXPECT_TRUE(ChooseLocalAddress(list, 1, text, sizeof text));
  EXPECT_STREQ(text, "255.255.255.254");
}

}  // namespace
