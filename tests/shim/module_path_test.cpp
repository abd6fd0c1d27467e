// The names the shim takes from its own path: module name, real library path, log pattern.
#include <string>

#include <gtest/gtest.h>

#include "frame/module_path.h"
#include "frame/trace.h"

namespace {

TEST(ModulePathTest, NameIsTheTextAfterTheLastBackslash) {
  char name[SHIM_TEXT_MAX];
  EXPECT_TRUE(ModuleNameFromPath("C:\\Games\\Duke\\wsock32.dll", name, sizeof name));
  EXPECT_STREQ(name, "wsock32.dll");
  EXPECT_TRUE(ModuleNameFromPath("C:\\Games\\WS2_32.DLL", name, sizeof name));
  EXPECT_STREQ(name, "WS2_32.DLL");
  EXPECT_TRUE(ModuleNameFromPath("C:\\dir\\", name, sizeof name));
  EXPECT_STREQ(name, "");
}

TEST(ModulePathTest, APathWithoutBackslashGivesNoName) {
  char name[SHIM_TEXT_MAX] = "stale";
  EXPECT_FALSE(ModuleNameFromPath("wsock32.dll", name, sizeof name));
  EXPECT_STREQ(name, "");
  EXPECT_FALSE(ModuleNameFromPath(nullptr, name, sizeof name));
  EXPECT_STREQ(name, "");
}

TEST(ModulePathTest, RealLibraryLiesInTheSystemDirectoryUnderTheShimsName) {
  char path[SHIM_TEXT_MAX];
  ASSERT_TRUE(BuildRealLibraryPath("C:\\windows\\system32", "WS2_32.DLL", path, sizeof path));
  EXPECT_STREQ(path, "C:\\windows\\system32\\WS2_32.DLL");
  ASSERT_TRUE(BuildRealLibraryPath("C:\\windows\\system32", "", path, sizeof path));
  EXPECT_STREQ(path, "C:\\windows\\system32\\wsock32.dll");
}

TEST(ModulePathTest, ARealLibraryPathThatDoesNotFitIsNotCut) {
  std::string dir = "C:\\" + std::string(240, 'd');
  char path[SHIM_TEXT_MAX] = "stale";
  // 243 + 1 + 15 + NUL = 260: fits exactly.
  ASSERT_TRUE(BuildRealLibraryPath(dir.c_str(), "abcdefghijk.dll", path, sizeof path));
  EXPECT_EQ(std::string(path).size(), SHIM_TEXT_MAX - 1);
  // One more byte would be cut: the shim gets no path rather than a wrong one.
  EXPECT_FALSE(BuildRealLibraryPath(dir.c_str(), "abcdefghijkl.dll", path, sizeof path));
  EXPECT_STREQ(path, "");
}

TEST(ModulePathTest, LogPatternKeepsItsTokensForTheComponent) {
  char pattern[SHIM_TEXT_MAX];
  BuildLogPattern("wsock32.dll", pattern, sizeof pattern);
  EXPECT_STREQ(pattern, "%logdir%\\wsock32.dll-%rotate%.log");
  BuildLogPattern("WS2_32.DLL", pattern, sizeof pattern);
  EXPECT_STREQ(pattern, "%logdir%\\WS2_32.DLL-%rotate%.log");
  std::string long_name(400, 'x');
  BuildLogPattern(long_name.c_str(), pattern, sizeof pattern);
  EXPECT_EQ(std::string(pattern).size(), SHIM_TEXT_MAX - 1);
}

}  // namespace
