// What the shim says about IPX socket options and socket controls, apart from any socket:
// the option names in the trace, the two questions it answers itself (IPX_ADDRESS and
// IPX_MAX_ADAPTER_NUM at level NSPROTO_IPX), and the ioctl command lines. Portable and
// natively tested; the exports live in sockopt.cpp.
#ifndef ORBWS_SOCKOPT_ANSWERS_H
#define ORBWS_SOCKOPT_ANSWERS_H

#include <stdint.h>

enum : int {
  kNsProtoIpx = 1000,
  kNsProtoSpx = 1256,
  kNsProtoSpxII = 1257,
  kIpxAddress = 0x4007,
  kIpxMaxAdapterNum = 0x400D,
  kIpxAddressDataLen = 24,  // sizeof(IPX_ADDRESS_DATA)
};
enum : uint32_t {
  kFionbio = 0x8004667Eu,
  kFionread = 0x4004667Fu,
  kSiocatmark = 0x40047307u,
};

// Name of an IPX option for the getsockopt name line, or null where no line is written.
const char* IpxGetOptionName(int optname);

// Name of an IPX option for the setsockopt name line, or null where the number line
// "(%d)" is written instead.
const char* IpxSetOptionName(int optname);

// The setsockopt level line ("mp_setsockopt level set to NSPROTO_IPX" ...), or null for a
// level that is not IPX, SPX or SPXII.
const char* SetOptionLevelLine(int level);

// The ioctlsocket command line for cmd.
const char* IoctlCommandLine(uint32_t cmd);

enum class OptionAnswer {
  kPassOn,    // not answered by the shim: the real getsockopt decides
  kAnswered,  // written into the caller's buffer; getsockopt returns 0
  kFault,     // an answered option whose buffer cannot hold the answer: WSAEFAULT
};

// The shim's own answers, on any socket. IPX_ADDRESS fills the 24-byte IPX_ADDRESS_DATA
// (adapter 1, net 0, node FF.., wan 1, status 1, max packet 512, speed 28800) and leaves
// the length; IPX_MAX_ADAPTER_NUM writes one byte 1 and sets the length to 1. A null
// buffer or length, or a length short of the answer, writes nothing and gives kFault.
OptionAnswer AnswerIpxGetOption(int level, int optname, char* optval, int* optlen);

#endif
