#include "ipx/socktrak.h"

#include "frame/shim_platform.h"
#include "frame/trace.h"

namespace {

ShimMutex g_lock;
int g_handles[IPX_SOCK_MAX];
IpxSockKind g_kinds[IPX_SOCK_MAX];
int g_count;

#define TRAK_LOG(...) ShimLogRaw(SHIM_SRC_SOCKTRAK, __LINE__, SHIM_TRACE, __VA_ARGS__)

// Index of handle counted from 0, or -1. Caller holds the lock.
int IndexOf(int handle) {
  for (int i = 0; i < g_count; ++i)
    if (g_handles[i] == handle) return i;
  return -1;
}

}  // namespace

SocktrakGuard::SocktrakGuard() { g_lock.lock(); }
SocktrakGuard::~SocktrakGuard() { g_lock.unlock(); }

int FindIPXSock(int handle) {
  SocktrakGuard guard;
  TRAK_LOG("FindIPXSock(%d)", handle);
  int i = IndexOf(handle);
  if (i >= 0) {
    TRAK_LOG("Found %d at %d - length is now %d", handle, i, g_count);
    return i + 1;
  }
  TRAK_LOG("Found failed for %d - length is now %d", handle, g_count);
  return 0;
}

int AddIPXSock(int handle, IpxSockKind kind) {
  SocktrakGuard guard;
  TRAK_LOG("AddIPXSock(%d)", handle);
  if (FindIPXSock(handle)) return 0;
  if (g_count >= IPX_SOCK_MAX) return 0;
  g_handles[g_count] = handle;
  g_kinds[g_count] = kind;
  ++g_count;
  TRAK_LOG("Added %d - length is now %d", handle, g_count);
  TRAK_LOG("List -");
  for (int i = 0; i < g_count; ++i) TRAK_LOG("\t\t%4d - %d", i, g_handles[i]);
  return 1;
}

int DeleteIPXSock(int handle) {
  SocktrakGuard guard;
  TRAK_LOG("DeleteIPXSock(%d)", handle);
  int pos = FindIPXSock(handle);
  if (pos == 0) return 0;
  for (int i = pos; i < g_count; ++i) {
    g_handles[i - 1] = g_handles[i];
    g_kinds[i - 1] = g_kinds[i];
  }
  --g_count;
  TRAK_LOG("Deleted %d - length is now %d", handle, g_count);
  return 1;
}

void DeleteAllIPXSock() {
  SocktrakGuard guard;
  TRAK_LOG("DeleteAllIPXSock()");
  g_count = 0;
}

IpxSockKind IPXSockKind(int handle) {
  SocktrakGuard guard;
  int i = IndexOf(handle);
  return i >= 0 ? g_kinds[i] : IPX_KIND_NONE;
}

int IPXSockCount() {
  SocktrakGuard guard;
  return g_count;
}

int IPXSockAt(int index) {
  SocktrakGuard guard;
  return (index >= 0 && index < g_count) ? g_handles[index] : -1;
}
