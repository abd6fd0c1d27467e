#include "ipx/sockopt_answers.h"

#include <string.h>

#include "bytes.h"

namespace {

// IPX option numbers 0x4000 to 0x4010 in order; null where the option has no name.
const char* const kIpxOptionNames[] = {
    "IPX_PTYPE",           "IPX_FILTERPTYPE",        "IPX_DSTYPE",
    "IPX_STOPFILTERPTYPE", "IPX_EXTENDED_ADDRESS",   "IPX_RECVHDR",
    "IPX_MAXSIZE",         "IPX_ADDRESS",            "IPX_GETNETINFO",
    "IPX_GETNETINFO_NORIP", nullptr,                 "IPX_SPXGETCONNECTIONSTATUS",
    "IPX_ADDRESS_NOTIFY",  "IPX_MAX_ADAPTER_NUM",    "IPX_RERIPNETNUMBER",
    "IPX_RECEIVE_BROADCAST", "IPX_IMMEDIATESPXACK",
};
enum : int {
  kIpxOptionFirst = 0x4000,
  kIpxOptionCount = sizeof kIpxOptionNames / sizeof kIpxOptionNames[0],
};

}  // namespace

const char* IpxGetOptionName(int optname) {
  const int i = optname - kIpxOptionFirst;
  if (i < 0 || i >= kIpxOptionCount) return nullptr;
  return kIpxOptionNames[i];
}

const char* IpxSetOptionName(int optname) {
  // setsockopt shows the two options that only getsockopt answers by their number.
  if (optname == kIpxAddress || optname == kIpxMaxAdapterNum) return nullptr;
  return IpxGetOptionName(optname);
}

const char* SetOptionLevelLine(int level) {
  switch (level) {
    case kNsProtoIpx: return "mp_setsockopt level set to NSPROTO_IPX";
    case kNsProtoSpx: return "mp_setsockopt level set to NSPROTO_SPX";
    case kNsProtoSpxII: return "mp_setsockopt level set to NSPROTO_SPXII";
    default: return nullptr;
  }
}

const char* IoctlCommandLine(uint32_t cmd) {
  switch (cmd) {
    case kFionbio: return "mp_ioctlsocket called with a command of FIONBIO";
    case kFionread: return "mp_ioctlsocket called with a command of FIONREAD";
    case kSiocatmark: return "mp_ioctlsocket called with a command of SIOCATMARK";
    default: return "mp_ioctlsocket called with an unknown command";
  }
}

OptionAnswer AnswerIpxGetOption(int level, int optname, char* optval, int* optlen) {
  if (level != kNsProtoIpx) return OptionAnswer::kPassOn;
  if (optname == kIpxAddress) {
    if (optval == nullptr || optlen == nullptr || *optlen < kIpxAddressDataLen) {
      return OptionAnswer::kFault;
    }
    uint8_t data[kIpxAddressDataLen] = {};
    orb::WriteU32(data + 0, 1);           // adapter number, whichever was asked for
    memset(data + 8, 0xFF, 6);      // node; net number at 4 stays zero
    data[14] = 1;                   // wide-area link
    data[15] = 1;                   // status
    orb::WriteU32(data + 16, 512);        // largest packet
    orb::WriteU32(data + 20, 28800);      // link speed
    memcpy(optval, data, sizeof data);
    return OptionAnswer::kAnswered;
  }
  if (optname == kIpxMaxAdapterNum) {
    if (optval == nullptr || optlen == nullptr || *optlen < 1) return OptionAnswer::kFault;
    optval[0] = 1;
    *optlen = 1;
    return OptionAnswer::kAnswered;
  }
  return OptionAnswer::kPassOn;
}
