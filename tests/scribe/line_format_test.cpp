#include "line_format.h"

#include <gtest/gtest.h>

#include <string>

namespace scribe {
namespace {

size_t TextInto(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = FormatText(out, size, format, args);
  va_end(args);
  return n;
}

std::string Text(const char* format, ...) {
  char out[kTextMax + 1];
  va_list args;
  va_start(args, format);
  size_t n = FormatText(out, sizeof out, format, args);
  va_end(args);
  EXPECT_EQ(n, strlen(out));
  return out;
}

TEST(FormatPrefix, HoldsTimeWithMillisecondsThreadLevelAndSource) {
  LocalTime t{2026, 12, 8, 9, 6, 3, 7};
  char out[256];
  size_t n = FormatPrefix(out, sizeof out, t, 36, 1000, "wsock32\\wsock32", 120);
  EXPECT_STREQ(out, "2026-12-08 09:06:03.007 [36] 1000 wsock32\\wsock32:120 | ");
  EXPECT_EQ(n, strlen(out));
  FormatPrefix(out, sizeof out, t, 4294967295u, -5, nullptr, -1);
  EXPECT_STREQ(out, "2026-12-08 09:06:03.007 [4294967295] -5 ?:-1 | ");
  FormatPrefix(out, sizeof out, t, 1, 100, "a\nb", 2);
  EXPECT_STREQ(out, "2026-12-08 09:06:03.007 [1] 100 a b:2 | ") << "a file name cannot break the line";
}

TEST(FormatPrefix, LongFileNamesAreCutAndSmallBuffersNotOverrun) {
  LocalTime t{2026, 1, 1, 0, 0, 0, 0};
  std::string file(1000, 'f');
  char out[512];
  FormatPrefix(out, sizeof out, t, 1, 1, file.c_str(), 9);
  EXPECT_NE(std::string(out).find(std::string(kFileNameMax, 'f') + ":9 | "), std::string::npos);
  EXPECT_EQ(std::string(out).find(std::string(kFileNameMax + 1, 'f')), std::string::npos);

  for (size_t size : {1u, 2u, 10u, 30u}) {
    char small[40];
    memset(small, '#', sizeof small);
    size_t n = FormatPrefix(small, size, t, 1, 1, "file", 1);
    EXPECT_LT(n, size);
    EXPECT_EQ(small[n], '\0');
    for (size_t i = size; i < sizeof small; ++i) ASSERT_EQ(small[i], '#') << "size " << size;
  }
}

TEST(FormatText, KeepsOneLineAndMarksControlCharacters) {
  EXPECT_EQ(Text("mp_select(%d,,,,,)", 3), "mp_select(3,,,,,)");
  EXPECT_EQ(Text("HEARTBEAT: sending heartbeat on address %d\n", 1), "HEARTBEAT: sending heartbeat on address 1");
  EXPECT_EQ(Text("a\r\nb\nc\r\n\n"), "a  b c");
  EXPECT_EQ(Text("tab\there\x01\x1b\x7f"), "tab\there...");
  EXPECT_EQ(Text("%s", "high \xE9 bytes stay"), "high \xE9 bytes stay");
  EXPECT_EQ(Text(nullptr), "(null format)");
}

TEST(FormatText, PercentsInArgumentsAreNotExpandedAgain) {
  EXPECT_EQ(Text("%s", "mp_gethostbyname(%s%n%x%%)"), "mp_gethostbyname(%s%n%x%%)");
  EXPECT_EQ(Text("100%%"), "100%");
}

TEST(FormatText, AFormatThatWritesThroughAnArgumentIsWrittenLiterally) {
  int hit = 12345;
  EXPECT_EQ(Text("count%n", &hit), "count%n");
  EXPECT_EQ(Text("%d%5hhn", 1, &hit), "%d%5hhn");
  EXPECT_EQ(hit, 12345) << "%n was expanded";
  EXPECT_TRUE(FormatWritesThroughArgument("%n"));
  EXPECT_TRUE(FormatWritesThroughArgument("x %-08.3ln"));
  EXPECT_TRUE(FormatWritesThroughArgument("%*n"));
  EXPECT_FALSE(FormatWritesThroughArgument("%%n"));
  EXPECT_FALSE(FormatWritesThroughArgument("%s %d %.2X %u%%"));
  EXPECT_FALSE(FormatWritesThroughArgument("trailing %"));
  EXPECT_TRUE(FormatWritesThroughArgument("%%%n"));
}

TEST(FormatText, LongTextIsCutToTheLimitWithAnEllipsis) {
  std::string exact(kTextMax, 'e');
  EXPECT_EQ(Text("%s", exact.c_str()), exact) << "a text of exactly the limit is kept whole";
  std::string longer(kTextMax + 1, 'l');
  EXPECT_EQ(Text("%s", longer.c_str()), std::string(kTextMax - 3, 'l') + "...");
  std::string huge(1 << 20, 'h');
  EXPECT_EQ(Text("%s%s", huge.c_str(), huge.c_str()).size(), kTextMax);

  // A caller buffer smaller than the text: cut to it, never past it.
  char small[12];
  memset(small, '#', sizeof small);
  size_t n = TextInto(small, 8, "0123456789");
  EXPECT_EQ(n, 7u);
  EXPECT_STREQ(small, "0123456");
  EXPECT_EQ(small[8], '#');
}

TEST(FormatDumpRow, HexWithAGapAndAscii) {
  const uint8_t row[16] = {0xF9, 0xF9, 0xF9, 0xF9, 0x2C, 0x01, 0x00, 0x00,
                           0x7F, 0x00, 0x00, 0x01, 'A', 'B', 'C', 'D'};
  char out[128];
  FormatDumpRow(out, sizeof out, 0, row, 16);
  EXPECT_STREQ(out, "0000  F9 F9 F9 F9 2C 01 00 00  7F 00 00 01 41 42 43 44  |....,.......ABCD|");
  const uint8_t tail[3] = {' ', '~', 0x80};
  FormatDumpRow(out, sizeof out, 0x7F0, tail, 3);
  EXPECT_STREQ(out, "07F0  20 7E 80                                          | ~.|");
  FormatDumpRow(out, sizeof out, 0x12345, row, 99);
  EXPECT_EQ(std::string(out).substr(0, 7), "12345  ") << "offsets past 0xFFFF widen";
  EXPECT_EQ(std::string(out).size(), strlen("12345 ") + 16 * 3 + 1 + strlen("  |") + 16 + 1) << "at most 16 bytes a row";

  char small[20];
  memset(small, '#', sizeof small);
  FormatDumpRow(small, 10, 0, row, 16);
  EXPECT_EQ(strlen(small), 9u);
  EXPECT_EQ(small[10], '#');
}

}  // namespace
}  // namespace scribe
