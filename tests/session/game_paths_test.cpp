#include "game_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(GamePaths, OneTrailingBackslashIsRemoved) {
  GamePaths with, without;
  ASSERT_TRUE(FormGamePaths("C:\\Games\\Demo\\", &with));
  ASSERT_TRUE(FormGamePaths("C:\\Games\\Demo", &without));
  EXPECT_STREQ(with.shim_path, "C:\\Games\\Demo\\wsock32.dll");
  EXPECT_STREQ(without.shim_path, with.shim_path);
  EXPECT_STREQ(with.game_dir, "C:\\Games\\Demo");
  EXPECT_STREQ(with.log_path, "C:\\Games\\Demo\\orblan.log");

  GamePaths two;
  ASSERT_TRUE(FormGamePaths("C:\\Games\\Demo\\\\", &two));
  EXPECT_STREQ(two.game_dir, "C:\\Games\\Demo\\");
}

TEST(GamePaths, LengthLimitIsTheShimPathBuffer) {
  // 247 characters + "\wsock32.dll" (12) + the terminating zero = 260: fits.
  std::string dir = "C:\\" + std::string(244, 'd');
  GamePaths p;
  ASSERT_TRUE(FormGamePaths(dir.c_str(), &p));
  EXPECT_EQ(std::string(p.shim_path).size(), 259u);
  // The same with a trailing backslash, which does not count.
  ASSERT_TRUE(FormGamePaths((dir + "\\").c_str(), &p));

  GamePaths untouched;
  untouched.shim_path[0] = 'K';
  untouched.shim_path[1] = '\0';
  EXPECT_FALSE(FormGamePaths((dir + "e").c_str(), &untouched));
  EXPECT_FALSE(FormGamePaths(std::string(5000, 'x').c_str(), &untouched));
  EXPECT_STREQ(untouched.shim_path, "K");
}

TEST(GamePaths, EmptyOrMissingDirectoryIsRefused) {
  GamePaths p;
  EXPECT_FALSE(FormGamePaths(nullptr, &p));
  EXPECT_FALSE(FormGamePaths("", &p));
  EXPECT_FALSE(FormGamePaths("\\", &p));
}

TEST(JoinPath, RefusesWhatDoesNotFit) {
  char out[8] = "keep";
  EXPECT_TRUE(JoinPath("ab", "cdef", out, sizeof out));  // "ab\cdef" + zero = 8
  EXPECT_STREQ(out, "ab\\cdef");
  EXPECT_FALSE(JoinPath("ab", "cdefg", out, sizeof out));
  EXPECT_STREQ(out, "ab\\cdef");
}

}  // namespace
