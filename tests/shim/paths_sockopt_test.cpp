// The IPX option answers, names and ioctl lines, natively.
#include "ipx/sockopt_answers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(IpxAddressAnswer, FillsTheRecordAndLeavesTheLength) {
  char buf[32];
  memset(buf, 0x77, sizeof buf);
  buf[0] = 5;  // the adapter the caller asks about: the answer is adapter 1 regardless
  int len = 30;
  ASSERT_EQ(AnswerIpxGetOption(kNsProtoIpx, kIpxAddress, buf, &len), OptionAnswer::kAnswered);
  const unsigned char want[24] = {1,    0,    0,    0,    0, 0, 0, 0,    0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 1,    1,    0, 2, 0, 0,    0x80, 0x70, 0,    0};
  EXPECT_EQ(memcmp(buf, want, sizeof want), 0);
  EXPECT_EQ(len, 30);
  EXPECT_EQ(static_cast<unsigned char>(buf[24]), 0x77) << "wrote past the 24-byte record";
}

TEST(IpxAddressAnswer, ShortOrMissingBufferIsAFaultAndWritesNothing) {
  char buf[24];
  memset(buf, 0x77, sizeof buf);
  int len = 23;
  EXPECT_EQ(AnswerIpxGetOption(kNsProtoIpx, kIpxAddress, buf, &len), OptionAnswer::kFault);
  EXPECT_EQ(len, 23);
  for (char c : buf) EXPECT_EQ(c, 0x77);
  len = 24;
  EXPECT_EQ(AnswerIpxGetOption(kNsProtoIpx, kIpxAddress, nullptr, &len), OptionAnswer::kFault);
  EXPECT_EQ(AnswerIpxGetOption(kNsProtoIpx, kIpxAddress, buf, nullptr), OptionAnswer::kFault);
}

TEST(MaxAdapterAnswer, OneByteAndLengthOne) {
  char buf[4] = {9, 9, 9, 9};
  int len = 4;
  ASSERT_EQ(AnswerIpxGetOption(kNsProtoIpx, kIpxMaxAdapterNum, buf, &len),
            OptionAnswer::kAnswered);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[1], 9);
  EXPECT_EQ(buf[3], 9);
  EXPECT_EQ(len, 1);

  buf[0] = 9;
  len = 0;
  EXPECT_EQ(AnswerIpxGetOption(kNsProtoIpx, kIpxMaxAdapterNum, buf, &len), OptionAnswer::kFault);
  EXPECT_EQ(buf[0], 9);
  EXPECT_EQ(len, 0);
}

TEST(OptionAnswers, OnlyTwoOptionsAtTheIpxLevel) {
  char buf[64] = {};
  int len = sizeof buf;
  for (int opt = 0x3FFF; opt <= 0x4011; ++opt) {
    const bool answered = opt == kIpxAddress || opt == kIpxMaxAdapterNum;
    EXPECT_EQ(AnswerIpxGetOption(kNsProtoIpx, opt, buf, &len) == OptionAnswer::kAnswered,
              answered)
        << std::hex << opt;
    len = sizeof buf;
    // SPX levels and the socket level are never answered by the shim.
    for (int level : {int{kNsProtoSpx}, int{kNsProtoSpxII}, 0xFFFF, 0}) {
      EXPECT_EQ(AnswerIpxGetOption(level, opt, buf, &len), OptionAnswer::kPassOn);
    }
  }
}

TEST(OptionNames, GetAndSetDifferOnTheAnsweredOptions) {
  EXPECT_STREQ(IpxGetOptionName(0x4000), "IPX_PTYPE");
  EXPECT_STREQ(IpxGetOptionName(0x4006), "IPX_MAXSIZE");
  EXPECT_STREQ(IpxGetOptionName(0x4007), "IPX_ADDRESS");
  EXPECT_STREQ(IpxGetOptionName(0x4009), "IPX_GETNETINFO_NORIP");
  EXPECT_EQ(IpxGetOptionName(0x400A), nullptr);
  EXPECT_STREQ(IpxGetOptionName(0x400B), "IPX_SPXGETCONNECTIONSTATUS");
  EXPECT_STREQ(IpxGetOptionName(0x400D), "IPX_MAX_ADAPTER_NUM");
  EXPECT_STREQ(IpxGetOptionName(0x4010), "IPX_IMMEDIATESPXACK");
  EXPECT_EQ(IpxGetOptionName(0x3FFF), nullptr);
  EXPECT_EQ(IpxGetOptionName(0x4011), nullptr);
  EXPECT_EQ(IpxGetOptionName(-1), nullptr);

  EXPECT_STREQ(IpxSetOptionName(0x4006), "IPX_MAXSIZE");
  EXPECT_EQ(IpxSetOptionName(0x4007), nullptr);
  EXPECT_EQ(IpxSetOptionName(0x400A), nullptr);
  EXPECT_EQ(IpxSetOptionName(0x400D), nullptr);
  EXPECT_STREQ(IpxSetOptionName(0x400F), "IPX_RECEIVE_BROADCAST");
}

TEST(OptionLines, LevelsAndIoctlCommands) {
  EXPECT_STREQ(SetOptionLevelLine(1000), "mp_setsockopt level set to NSPROTO_IPX");
  EXPECT_STREQ(SetOptionLevelLine(1256), "mp_setsockopt level set to NSPROTO_SPX");
  EXPECT_STREQ(SetOptionLevelLine(1257), "mp_setsockopt level set to NSPROTO_SPXII");
  EXPECT_EQ(SetOptionLevelLine(0xFFFF), nullptr);
  EXPECT_STREQ(IoctlCommandLine(0x8004667E), "mp_ioctlsocket called with a command of FIONBIO");
  EXPECT_STREQ(IoctlCommandLine(0x4004667F), "mp_ioctlsocket called with a command of FIONREAD");
  EXPECT_STREQ(IoctlCommandLine(0x40047307),
               "mp_ioctlsocket called with a command of SIOCATMARK");
  EXPECT_STREQ(IoctlCommandLine(0x8004667F), "mp_ioctlsocket called with an unknown command");
}

}  // namespace
