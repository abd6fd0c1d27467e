#include "datapath/member_route.h"

#include <windows.h>

#include "route_table.h"

namespace {

void* volatile g_table = nullptr;
volatile LONG g_next_look = 0;  // GetTickCount value before which no new look is made
const DWORD kLookAgainMs = 1000;

}  // namespace

const void* MemberRouteTable() {
  void* table = g_table;
  if (table != nullptr) return table;
  const DWORD now = GetTickCount();
  const LONG due = g_next_look;
  if (due != 0 && static_cast<LONG>(now - static_cast<DWORD>(due)) < 0) return nullptr;
  InterlockedExchange(&g_next_look, static_cast<LONG>(now + kLookAgainMs) | 1);
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "Local\\" ROUTE_TABLE_NAME);
  if (mapping == nullptr) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, ROUTE_TABLE_SIZE);
  if (view == nullptr) {
    CloseHandle(mapping);
    return nullptr;
  }
  // Two threads may both have opened it: one view is kept, the other given back.
  if (InterlockedCompareExchangePointer(const_cast<void**>(&g_table), view, nullptr) != nullptr) {
    UnmapViewOfFile(view);
    CloseHandle(mapping);
  }
  return g_table;
}
