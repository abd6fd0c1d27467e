#include "err_text.h"
#include "scribe.h"

#include <gtest/gtest.h>

#include <string>

namespace scribe {
namespace {

TEST(ErrorText, NamesWinsockCodesAndCutsToTheBuffer) {
  char out[128];
  ErrorText(10035, out, sizeof out);
  EXPECT_STREQ(out, "WSAEWOULDBLOCK (10035): Resource temporarily unavailable");
  EXPECT_STREQ(WinsockErrorName(10091), "WSASYSNOTREADY");
  EXPECT_EQ(WinsockErrorName(10000), nullptr);
  ErrorText(0, out, sizeof out);
  EXPECT_STREQ(out, "0: no error");
  ErrorText(-7, out, sizeof out);
  EXPECT_STREQ(out, "error -7");
  char small[6];
  EXPECT_EQ(ErrorText(10054, small, sizeof small), 5u);
  EXPECT_STREQ(small, "WSAEC");
  EXPECT_EQ(ErrorText(10054, nullptr, 10), 0u);
}

TEST(GetErrStr, FillsTheCallersBufferOrReturnsAnEmptyText) {
  char out[64];
  EXPECT_EQ(GetErrStr(10061, out, sizeof out), out);
  EXPECT_STREQ(out, "WSAECONNREFUSED (10061): Connection refused");
  EXPECT_STREQ(GetErrStr(10061, nullptr, 64), "");
  EXPECT_STREQ(GetErrStr(10061, out, -1), "");
}

TEST(Exports, DoNothingBeforeLogInitAndStayOffWithoutADirectory) {
  EXPECT_EQ(LogWrite("f", 1, 100, "early %d", 1), 0);
  EXPECT_EQ(LogDump("f", 1, 100, "ab", 2, "c"), 0);
  LogShutdown();
  setenv("SCRIBE_LOGDIR", "/nonexistent/scribe", 1);
  EXPECT_EQ(LogInit("f", 1, 2000, "wsock32.dll", "%%logdir%%\\x-%%rotate%%.log"), 0);
  EXPECT_EQ(LogWrite("f", 1, 100, "nowhere"), 0);
  LogShutdown();
  unsetenv("SCRIBE_LOGDIR");
}

}  // namespace
}  // namespace scribe
