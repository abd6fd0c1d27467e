// The member route table that the session library shares with this shim (route_table.h):
// which destinations are group members whose datagrams the session library carries.
#ifndef ORBWS_DATAPATH_MEMBER_ROUTE_H
#define ORBWS_DATAPATH_MEMBER_ROUTE_H

// The table, opened read-only at first need; null while there is none (a session library
// that makes none, or a game started outside any session), in which case it is looked for
// again at most once a second. Safe from any thread.
const void* MemberRouteTable();

#endif
