// Two exports of the shim's own (ordinals 700 and 701) that no part of the system calls;
// kept so that a caller that looks them up finds them.
#include "frame/shim.h"

namespace {
std::atomic<DWORD> g_broadcast_callback{0};  // written, never read
}

extern "C" int WINAPI orb_SetBroadcastCallback(DWORD value) {
  SHIM_LOG(SHIM_TRACE, "SetBroadcastCallback() called");
  g_broadcast_callback.store(value);
  return 0;
}

extern "C" int WINAPI orb_RecvBroadcastMsg(void) { return 0; }
