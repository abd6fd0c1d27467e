#include "local_address.h"

#include <gtest/gtest.h>

namespace {

TEST(LocalAddress, FirstQualifyingAddressInListOrder) {
  const char a[] = {char(192), char(168), 0, 5}, b[] = {10, 0, 0, 7}, c[] = {char(203), 0, 113, 9};
  const char* list[] = {a, b, c, nullptr};
  char text[128] = "myhost";
  EXPECT_TRUE(ChooseLocalAddress(list, text, sizeof text));
  EXPECT_STREQ(text, "10.0.0.7");
}

TEST(LocalAddress, OnlyTheFirstNumberDecides) {
  const char lo[] = {127, 0, 0, 1}, zero[] = {0, 1, 2, 3}, link[] = {char(169), char(254), 1, 1},
             lan[] = {char(192), 0, 2, 1}, corp[] = {char(172), 16, 0, 1};
  const char* list[] = {lo, zero, link, lan, corp, nullptr};
  char text[128] = "myhost";
  EXPECT_TRUE(ChooseLocalAddress(list, text, sizeof text));
  EXPECT_STREQ(text, "172.16.0.1");
}

TEST(LocalAddress, NoQualifyingAddressKeepsTheHostName) {
  const char lo[] = {127, 0, 0, 1}, lan[] = {char(192), char(168), 1, 2};
  const char* list[] = {lo, lan, nullptr};
  char text[128] = "myhost";
  EXPECT_FALSE(ChooseLocalAddress(list, text, sizeof text));
  EXPECT_STREQ(text, "myhost");
  EXPECT_FALSE(ChooseLocalAddress(nullptr, text, sizeof text));
  EXPECT_STREQ(text, "myhost");
}

TEST(LocalAddress, LongestTextFitsItsBuffer) {
  const char a[] = {char(255), char(255), char(255), char(254)};
  const char* list[] = {a, nullptr};
  char text[16];
  EXPECT_TRUE(ChooseLocalAddress(list, text, sizeof text));
  EXPECT_STREQ(text, "255.255.255.254");
}

}  // namespace
