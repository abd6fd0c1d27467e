// The member route table's memory on Windows: a named file mapping the shims inside the
// session's games open by the same name (route_table.h).
#ifndef ORB_SESSION_ROUTE_TABLE_WIN_H
#define ORB_SESSION_ROUTE_TABLE_WIN_H

// Creates the mapping and returns its memory as an empty table, or null when it cannot be
// made or another process on this machine already has one (that session's shims read it;
// this session then leaves its games' datagrams to one address alone).
void* CreateRouteTableMemory();

#endif
