// The member route table: a small block of memory that the session library shares with the
// shim inside the game (a named file mapping on Windows, ROUTE_TABLE_NAME), so that the shim
// knows, without asking, which destinations are group members whose datagrams the session
// library carries (directly or through the group server). The session library writes it; any
// number of shims read it. A shim that finds no table sends every datagram to one address
// straight to the network, as before.
//
// Layout (ROUTE_TABLE_SIZE bytes, 32-bit words in the machine's order):
//   0   magic ROUTE_TABLE_MAGIC
//   4   version: how many times the table was published; readers use copy (version & 1)
//   8   copy 0, then at 8 + ROUTE_TABLE_COPY_SIZE copy 1, each:
//       0  this machine's address as the group server sees it, network order (0: unknown)
//       4  count of entries in use, at most ROUTE_TABLE_ENTRIES
//       8  entries, 8 bytes each: a member's address (network order) and its flags
// The session library writes the copy readers are not using, then moves the version on, so
// a reader never waits for a write in progress (the writer may be descheduled in the middle
// of one). The block is only ever read word by word with atomic loads, so a reader never
// tears a word; a version that moved while it read tells it to read again.
#ifndef ORB_COMMON_ROUTE_TABLE_H
#define ORB_COMMON_ROUTE_TABLE_H

#include <stddef.h>
#include <stdint.h>

#define ROUTE_TABLE_NAME "orblan-member-routes-3668"

enum : uint32_t {
  ROUTE_TABLE_MAGIC = 0x3254524Fu,  // "ORT2"
  ROUTE_TABLE_ENTRIES = 64,
  ROUTE_TABLE_COPY_SIZE = 8 + 8 * ROUTE_TABLE_ENTRIES,
  ROUTE_TABLE_SIZE = 8 + 2 * ROUTE_TABLE_COPY_SIZE,
  // Entry flags.
  kRouteThroughSession = 1u,  // datagrams to this address go to the session library
};

struct RouteEntry {
  uint32_t address;  // network order
  uint32_t flags;
};

// Makes block (ROUTE_TABLE_SIZE bytes, 4-byte aligned) an empty table. Before any reader.
void RouteTableInit(void* block);

// Replaces the whole table with count entries (at most ROUTE_TABLE_ENTRIES are kept) and
// the public address. One writer at a time.
void RouteTablePublish(void* block, const RouteEntry* entries, size_t count,
                       uint32_t public_address);

// Looks address up. true with *flags set when it is in the table; false when it is not,
// when block is null or no table, or when the writer kept changing it while it was read.
bool RouteTableLookup(const void* block, uint32_t address, uint32_t* flags);

// The public address in the table; 0 when unknown or no table.
uint32_t RouteTablePublicAddress(const void* block);

#endif
