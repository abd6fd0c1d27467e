#include "session_log.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

std::string Read(const std::string& path) {
  std::string s;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

class SessionLog : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orblan-log-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/orblan.log";
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_, path_;
};

TEST_F(SessionLog, OneLineNamingGroupAndDirectoryAsPassed) {
  ASSERT_TRUE(WriteSessionLog(path_.c_str(), "Alpha", "C:\\Games\\Demo\\"));
  EXPECT_EQ(Read(path_), "group = 'Alpha' / gamedir = 'C:\\Games\\Demo\\'\n");
}

TEST_F(SessionLog, SecondSessionReplacesTheFirst) {
  ASSERT_TRUE(WriteSessionLog(path_.c_str(), "Alpha", "C:\\A"));
  ASSERT_TRUE(WriteSessionLog(path_.c_str(), "B", "C:\\B"));
  EXPECT_EQ(Read(path_), "group = 'B' / gamedir = 'C:\\B'\n");
}

TEST_F(SessionLog, TextIsDataNotFormat) {
  ASSERT_TRUE(WriteSessionLog(path_.c_str(), "%s%n%x", "C:\\%d"));
  EXPECT_EQ(Read(path_), "group = '%s%n%x' / gamedir = 'C:\\%d'\n");
}

TEST_F(SessionLog, UnwritablePlaceIsSkipped) {
  EXPECT_FALSE(WriteSessionLog((dir_ + "/no/such/dir/orblan.log").c_str(), "Alpha", "C:\\"));
  EXPECT_FALSE(WriteSessionLog(nullptr, "Alpha", "C:\\"));
}

}  // namespace
