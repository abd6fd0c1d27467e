// Shim deployment on a real Windows file system (under Wine): the copy, the restart
// rename list in a Windows directory of the test's own, and the removal.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "deploy_win.h"
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

}  // namespace
