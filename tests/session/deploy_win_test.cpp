// Shim deployment on a real Windows file system (under Wine): the copy, the restart
// rename list in a Windows directory of the test's own, and the removal.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "deploy_win.h"
#include "original_dll_win.h"
#include "wine_test_files.h"

namespace {

class Deploy : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestHome() + "\\wintmp";
    RemoveTree(dir_);
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
    list_ = dir_ + "\\wininit.ini";
  }
  void TearDown() override { RemoveTree(dir_); }
  std::string dir_, list_;
};

const char kShim[] = "C:\\Games\\Demo\\wsock32.dll";

TEST_F(Deploy, RenameListCases) {
  // A section of another case: the entry goes first in it, the rest keeps its order.
  WriteBytes(list_, "[boot]\r\na=b\r\n[Rename]\r\nX=Y\r\n");
  ASSERT_EQ(RewriteRestartList(dir_.c_str(), kShim, nullptr), 1);
  EXPECT_EQ(ReadBytes(list_), "[boot]\r\na=b\r\n[rename]\r\nNUL=C:\\Games\\Demo\\wsock32.dll\r\nX=Y\r\n");
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"wininit.ini"});  // no temporary file left

  // A second entry goes before the first.
  ASSERT_EQ(RewriteRestartList(dir_.c_str(), "C:\\B\\wsock32.dll", nullptr), 1);
  EXPECT_EQ(ReadBytes(list_),
            "[boot]\r\na=b\r\n[rename]\r\nNUL=C:\\B\\wsock32.dll\r\nNUL=C:\\Games\\Demo\\wsock32.dll\r\n"
            "X=Y\r\n");

  // No list at all.
  DeleteFileA(list_.c_str());
  ASSERT_EQ(RewriteRestartList(dir_.c_str(), kShim, nullptr), 1);
  EXPECT_EQ(ReadBytes(list_), "[rename]\r\nNUL=C:\\Games\\Demo\\wsock32.dll\r\n");

  // A list without the section keeps every line and gains it at the end.
  WriteBytes(list_, "[boot]\r\na=b\r\n[386Enh]\r\nc=d\r\n");
  ASSERT_EQ(RewriteRestartList(dir_.c_str(), kShim, nullptr), 1);
  EXPECT_EQ(ReadBytes(list_),
            "[boot]\r\na=b\r\n[386Enh]\r\nc=d\r\n[rename]\r\nNUL=C:\\Games\\Demo\\wsock32.dll\r\n");

  // The rename form.
  DeleteFileA(list_.c_str());
  ASSERT_EQ(RewriteRestartList(dir_.c_str(), "C:\\old.dll", "C:\\new.dll"), 1);
  EXPECT_EQ(ReadBytes(list_), "[rename]\r\nC:\\new.dll=C:\\old.dll\r\n");
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"wininit.ini"});
}

TEST_F(Deploy, ListThatCannotBeReplacedStaysAsItWas) {
  // Another program holds the list open for reading without sharing its deletion: the
  // list can be read, but the replacing move fails.
  const std::string old = "[rename]\r\nX=Y\r\n";
  WriteBytes(list_, old);
  HANDLE held = CreateFileA(list_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(RewriteRestartList(dir_.c_str(), kShim, nullptr), 0);
  CloseHandle(held);
  EXPECT_EQ(ReadBytes(list_), old);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"wininit.ini"});
}

TEST_F(Deploy, ListThatCannotBeReadIsNotReplaced) {
  ASSERT_TRUE(CreateDirectoryA(list_.c_str(), nullptr));  // exists, but no file to read
  EXPECT_EQ(RewriteRestartList(dir_.c_str(), kShim, nullptr), 0);
  EXPECT_NE(GetFileAttributesA(list_.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"wininit.ini"});
}

TEST_F(Deploy, MissingWindowsDirectoryFails) {
  EXPECT_EQ(RewriteRestartList((dir_ + "\\nowhere").c_str(), kShim, nullptr), 0);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{});
}

TEST_F(Deploy, ReadOnlyShimIsReplacedOnceItsAttributesAreCleared) {
  const std::string source = dir_ + "\\orbws.dll", target = dir_ + "\\wsock32.dll";
  WriteBytes(source, "new shim");
  WriteBytes(target, "old");
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  // Windows refuses to overwrite a read-only file (Wine running as root does not), which
  // is why a launch clears the attributes first.
  ClearAttributes(target.c_str());
  EXPECT_EQ(GetFileAttributesA(target.c_str()) &
                (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            0u);
  EXPECT_TRUE(PlaceShim(source.c_str(), target.c_str()));
  EXPECT_EQ(ReadBytes(target), "new shim");
  EXPECT_FALSE(PlaceShim((dir_ + "\\missing.dll").c_str(), target.c_str()));

  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  RemoveShim(target.c_str());
  EXPECT_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
  RemoveShim("");  // nothing placed in this session: nothing touched
  EXPECT_EQ(ReadBytes(source), "new shim");
}

// What a launch finds at the shim path, and what is where once the shim is placed and
// once the session has ended.
struct OriginalCase {
  const char* what;
  const char* at_shim;   // null: no file
  const char* at_saved;  // null: no file
  Original expected;
  const char* shim_after_end;  // null: none
};

class OriginalDll : public Deploy, public ::testing::WithParamInterface<OriginalCase> {};

TEST_P(OriginalDll, KeptAsideAndPutBack) {
  const OriginalCase& c = GetParam();
  const std::string source = dir_ + "\\orbws.dll", shim = dir_ + "\\wsock32.dll";
  char saved[MAX_PATH];
  ASSERT_TRUE(FormSavedPath(shim.c_str(), saved, sizeof saved));
  EXPECT_EQ(std::string(saved), shim + ".orblan-saved");
  WriteBytes(source, "the shim");
  if (c.at_shim) WriteBytes(shim, c.at_shim);
  if (c.at_saved) WriteBytes(saved, c.at_saved);

  EXPECT_EQ(SetAsideOriginal(shim.c_str(), saved, source.c_str()), c.expected) << c.what;
  ASSERT_TRUE(PlaceShim(source.c_str(), shim.c_str()));
  EXPECT_EQ(ReadBytes(shim), "the shim") << c.what;
  RemoveShim(shim.c_str());
  EXPECT_TRUE(RestoreOriginal(shim.c_str(), saved)) << c.what;
  EXPECT_EQ(ReadBytes(shim), c.shim_after_end ? c.shim_after_end : "<missing>") << c.what;
  EXPECT_EQ(GetFileAttributesA(saved), INVALID_FILE_ATTRIBUTES) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Deploy, OriginalDll,
    ::testing::Values(
        OriginalCase{"nothing there", nullptr, nullptr, Original::kNone, nullptr},
        OriginalCase{"the game's own", "the game's wsock32", nullptr, Original::kSetAside, "the game's wsock32"},
        OriginalCase{"an earlier session's shim", "the shim", nullptr, Original::kNone, nullptr},
        OriginalCase{"kept by a session that never ended", "the shim", "the game's wsock32",
                     Original::kSetAside, "the game's wsock32"}));

TEST_F(Deploy, OriginalHeldBackWhileTheGameHoldsTheShimAndRestoredAtRestart) {
  const std::string shim = dir_ + "\\wsock32.dll", saved = shim + ".orblan-saved";
  WriteBytes(shim, "the shim");
  WriteBytes(saved, "original");
  ASSERT_TRUE(SetFileAttributesA(saved.c_str(), FILE_ATTRIBUTE_READONLY));
  HANDLE held = CreateFileA(shim.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  RemoveShim(shim.c_str());
  EXPECT_FALSE(RestoreOriginal(shim.c_str(), saved.c_str()));
  CloseHandle(held);
  EXPECT_EQ(ReadBytes(saved), "original") << "nothing lost while it waits";
  EXPECT_NE(GetFileAttributesA(saved.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  // The restart-time clean-up: one rename line, original replacing the shim.
  WriteBytes(list_, "[rename]\r\nX=Y\r\n");
  ASSERT_EQ(RewriteRestartList(dir_.c_str(), saved.c_str(), shim.c_str()), 1);
  EXPECT_EQ(ReadBytes(list_), "[rename]\r\n" + shim + "=" + saved + "\r\nX=Y\r\n");
  EXPECT_NE(GetFileAttributesA(saved.c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
      << "its attributes stay the original's";
  char too_long[MAX_PATH];
  EXPECT_FALSE(FormSavedPath(std::string(250, 'p').c_str(), too_long, sizeof too_long));
}

}  // namespace
