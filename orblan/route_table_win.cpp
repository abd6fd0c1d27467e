#include "route_table_win.h"

#include <windows.h>

#include "route_table.h"

void* CreateRouteTableMemory() {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      ROUTE_TABLE_SIZE, "Local\\" ROUTE_TABLE_NAME);
  if (mapping == nullptr) return nullptr;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mapping);
    return nullptr;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, ROUTE_TABLE_SIZE);
  if (view == nullptr) {
    CloseHandle(mapping);
    return nullptr;
  }
  // The handle stays open with the view for as long as the library is loaded.
  RouteTableInit(view);
  return view;
}
