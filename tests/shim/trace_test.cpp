// The shim's trace calls: prefix, bounded buffers, '%' kept literal, and silence with no
// component bound.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_log.h"
#include "frame/text.h"
#include "frame/trace.h"

using ::testing::ElementsAre;

namespace {

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override { ShimSetModuleName("wsock32.dll"); }
  void TearDown() override { ShimSetModuleName(""); }
};

TEST_F(TraceTest, ShimLogFramesTheMessageWithTheModuleName) {
  FakeLog log;
  ShimLog(SHIM_SRC_WSOCK32, 10, SHIM_TRACE, "mp_socket(%d,%d,%d)", 6, 2, 1000);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].text, "[wsock32.dll] mp_socket(6,2,1000)");
  EXPECT_EQ(log.lines()[0].file, "wsock32\\wsock32");
  EXPECT_EQ(log.lines()[0].level, 2000);
}

TEST_F(TraceTest, FinishedLineReachesTheComponentAsAnArgumentNotAFormat) {
  FakeLog log;
  ShimLog(SHIM_SRC_WSOCK32, 1, SHIM_TRACE, "mp_gethostbyname(%s)", "evil%s%n%x.example");
  ShimLogRaw(SHIM_SRC_SOCKTRAK, 1, SHIM_TRACE, "raw %s", "100%d");
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0].format, "%s");
  EXPECT_EQ(log.lines()[0].text, "[wsock32.dll] mp_gethostbyname(evil%s%n%x.example)");
  EXPECT_EQ(log.lines()[1].format, "%s");
  EXPECT_EQ(log.lines()[1].text, "raw 100%d");
}

TEST_F(TraceTest, LongTextsAreCutToTheirBuffers) {
  FakeLog log;
  std::string host(1000, 'h');
  ShimLog(SHIM_SRC_WSOCK32, 1, SHIM_TRACE, "mp_gethostbyname(%s)", host.c_str());
  ShimLogRaw(SHIM_SRC_SOCKTRAK, 1, SHIM_TRACE, "%s", host.c_str());
  ASSERT_EQ(log.lines().size(), 2u);
  const std::string& line = log.lines()[0].text;
  EXPECT_EQ(line.size(), SHIM_TEXT_MAX - 1);
  EXPECT_EQ(line.rfind("[wsock32.dll] mp_gethostbyname(hhh", 0), 0u);
  EXPECT_EQ(log.lines()[1].text, std::string(SHIM_TEXT_MAX - 1, 'h'));
}

TEST_F(TraceTest, AModuleNameLongerThanItsBufferIsCut) {
  std::string name(400, 'n');
  ShimSetModuleName(name.c_str());
  EXPECT_EQ(std::string(ShimModuleName()), std::string(SHIM_TEXT_MAX - 1, 'n'));
  FakeLog log;
  ShimLog(SHIM_SRC_WSOCK32, 1, SHIM_TRACE, "x");
  EXPECT_EQ(log.lines()[0].text.size(), SHIM_TEXT_MAX - 1);
}

TEST_F(TraceTest, RawLinesCarryNoPrefixAndReturnTheComponentsResult) {
  FakeLog log;
  EXPECT_EQ(ShimLogRaw(SHIM_SRC_SOCKTRAK, 3, SHIM_TRACE, "FindIPXSock(%d)", 5), 7);
  EXPECT_EQ(log.lines()[0].text, "FindIPXSock(5)");
  EXPECT_EQ(log.lines()[0].file, "wsock32\\socktrak");
}

TEST_F(TraceTest, DumpsGoAtTraceLevelWithAnEmptyCaption) {
  FakeLog log;
  const unsigned char data[] = {0xF9, 0xF9, 0x2C, 0x01};
  ShimLogDump(SHIM_SRC_WSOCK32, 1, data, 4);
  ShimLogDump(SHIM_SRC_WSOCK32, 1, data, 0);
  ShimLogDump(SHIM_SRC_WSOCK32, 1, nullptr, 4);
  ASSERT_EQ(log.dumps().size(), 1u);
  EXPECT_EQ(log.dumps()[0].level, 2000);
  EXPECT_EQ(log.dumps()[0].caption, "");
  EXPECT_THAT(log.dumps()[0].bytes, ElementsAre(0xF9, 0xF9, 0x2C, 0x01));
}

TEST_F(TraceTest, WithNoComponentNothingIsWritten) {
  {
    FakeLog log;
    TraceBind(nullptr);
    EXPECT_FALSE(TraceBound());
    ShimLog(SHIM_SRC_WSOCK32, 1, SHIM_TRACE, "lost");
    EXPECT_EQ(ShimLogRaw(SHIM_SRC_WSOCK32, 1, SHIM_TRACE, "lost"), 0);
    ShimLogDump(SHIM_SRC_WSOCK32, 1, "abc", 3);
    TraceInit("f", 1, 2000, "m", "p");
    TraceShutdown();
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(log.dumps().empty());
    EXPECT_EQ(log.init_calls(), 0);
    EXPECT_EQ(log.shutdown_calls(), 0);
  }
}

TEST_F(TraceTest, AComponentMissingAnyFunctionIsNotBound) {
  FakeLog log;
  TraceComponent partial{};
  TraceBind(&partial);
  EXPECT_FALSE(TraceBound());
  ShimLog(SHIM_SRC_WSOCK32, 1, SHIM_TRACE, "lost");
  EXPECT_TRUE(log.lines().empty());
}

TEST(TextTest, FormatCutsAndAlwaysTerminates) {
  char buf[8];
  EXPECT_EQ(TextFormat(buf, sizeof buf, "%s", "0123456789"), 7u);
  EXPECT_STREQ(buf, "0123456");
  EXPECT_EQ(TextFormat(buf, sizeof buf, "%d", 42), 2u);
  EXPECT_STREQ(buf, "42");
  EXPECT_EQ(TextFormat(buf, 1, "abc"), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(TextFormat(nullptr, 0, "abc"), 0u);
}

TEST(TextTest, CopyAndLengthNeverReadPastTheBuffer) {
  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(TextLength(unterminated, sizeof unterminated), 4u);
  EXPECT_EQ(TextLength("ab\0cd", 5), 2u);
  char out[3];
  EXPECT_EQ(TextCopy(out, sizeof out, "abcdef"), 2u);
  EXPECT_STREQ(out, "ab");
  EXPECT_EQ(TextCopy(out, sizeof out, nullptr), 0u);
  EXPECT_STREQ(out, "");
}

}  // namespace
