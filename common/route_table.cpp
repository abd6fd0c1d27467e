#include "route_table.h"

namespace {

// Word offsets: the header, then within a copy.
enum : size_t { kMagic = 0, kVersion = 1, kCopies = 2, kPublic = 0, kCount = 1, kEntries = 2 };
const size_t kCopyWords = ROUTE_TABLE_COPY_SIZE / 4;
// A read is retried only when a publish completed while it ran: the session library
// publishes a few times a session, so two misses in a row are already rare.
const int kReadTries = 4;

uint32_t Load(const void* block, size_t word) {
  return __atomic_load_n(static_cast<const uint32_t*>(block) + word, __ATOMIC_ACQUIRE);
}
void Store(void* block, size_t word, uint32_t v) {
  __atomic_store_n(static_cast<uint32_t*>(block) + word, v, __ATOMIC_RELEASE);
}
size_t CopyAt(uint32_t version) { return kCopies + (version & 1) * kCopyWords; }

}  // namespace

void RouteTableInit(void* block) {
  for (size_t w = 0; w < ROUTE_TABLE_SIZE / 4; ++w) Store(block, w, 0);
  Store(block, kMagic, ROUTE_TABLE_MAGIC);
}

void RouteTablePublish(void* block, const RouteEntry* entries, size_t count,
                       uint32_t public_address) {
  if (block == nullptr) return;
  if (count > ROUTE_TABLE_ENTRIES) count = ROUTE_TABLE_ENTRIES;
  const uint32_t next = Load(block, kVersion) + 1;
  const size_t copy = CopyAt(next);  // the copy no reader of the present version uses
  // The last publish's version store before any store into this copy: a reader of the
  // version before it may still be reading here, and must see the version move.
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  for (size_t i = 0; i < count; ++i) {
    Store(block, copy + kEntries + 2 * i, entries[i].address);
    Store(block, copy + kEntries + 2 * i + 1, entries[i].flags);
  }
  Store(block, copy + kPublic, public_address);
  Store(block, copy + kCount, static_cast<uint32_t>(count));
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  Store(block, kVersion, next);
}

bool RouteTableLookup(const void* block, uint32_t address, uint32_t* flags) {
  if (block == nullptr || Load(block, kMagic) != ROUTE_TABLE_MAGIC) return false;
  for (int attempt = 0; attempt < kReadTries; ++attempt) {
    const uint32_t before = Load(block, kVersion);
    const size_t copy = CopyAt(before);
    uint32_t count = Load(block, copy + kCount);
    if (count > ROUTE_TABLE_ENTRIES) count = ROUTE_TABLE_ENTRIES;
    bool found = false;
    uint32_t found_flags = 0;
    for (uint32_t i = 0; i < count && !found; ++i) {
      if (Load(block, copy + kEntries + 2 * i) == address) {
        found = true;
        found_flags = Load(block, copy + kEntries + 2 * i + 1);
      }
    }
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    if (Load(block, kVersion) != before) continue;
    if (found && flags != nullptr) *flags = found_flags;
    return found;
  }
  return false;
}

uint32_t RouteTablePublicAddress(const void* block) {
  if (block == nullptr || Load(block, kMagic) != ROUTE_TABLE_MAGIC) return 0;
  for (int attempt = 0; attempt < kReadTries; ++attempt) {
    const uint32_t before = Load(block, kVersion);
    const uint32_t address = Load(block, CopyAt(before) + kPublic);
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    if (Load(block, kVersion) == before) return address;
  }
  return 0;
}
