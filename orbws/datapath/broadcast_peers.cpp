#include "datapath/broadcast_peers.h"

#include <string.h>

#include <atomic>

#include "frame/shim_platform.h"

namespace {

struct Entry {
  int handle;
  BroadcastPeer peer;
};

ShimMutex g_lock;
Entry g_entries[kBroadcastPeersMax];
std::atomic<int> g_count{0};  // written under the lock; read without it for the empty case

struct Hold {
  Hold() { g_lock.lock(); }
  ~Hold() { g_lock.unlock(); }
};

// Index of handle, or -1. The caller holds the lock.
int IndexOf(int handle) {
  const int n = g_count.load(std::memory_order_relaxed);
  for (int i = 0; i < n; ++i)
    if (g_entries[i].handle == handle) return i;
  return -1;
}

}  // namespace

bool RememberBroadcastPeer(int handle, uint16_t port_field, const void* address, int length) {
  if (address == nullptr || length <= 0 || length > kBroadcastPeerAddressMax) return false;
  Hold hold;
  int i = IndexOf(handle);
  if (i < 0) {
    const int n = g_count.load(std::memory_order_relaxed);
    if (n >= kBroadcastPeersMax) return false;
    i = n;
    g_entries[i].handle = handle;
    g_count.store(n + 1, std::memory_order_release);
  }
  BroadcastPeer& p = g_entries[i].peer;
  p.port_field = port_field;
  p.length = length;
  memset(p.address, 0, sizeof p.address);
  memcpy(p.address, address, static_cast<size_t>(length));
  return true;
}

bool FindBroadcastPeer(int handle, BroadcastPeer* out) {
  if (g_count.load(std::memory_order_acquire) == 0) return false;
  Hold hold;
  const int i = IndexOf(handle);
  if (i < 0) return false;
  if (out != nullptr) *out = g_entries[i].peer;
  return true;
}

void ForgetBroadcastPeer(int handle) {
  if (g_count.load(std::memory_order_acquire) == 0) return;
  Hold hold;
  const int i = IndexOf(handle);
  if (i < 0) return;
  const int last = g_count.load(std::memory_order_relaxed) - 1;
  g_entries[i] = g_entries[last];
  g_count.store(last, std::memory_order_release);
}

int BroadcastPeerCount() { return g_count.load(std::memory_order_acquire); }
