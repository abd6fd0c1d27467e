/* orblan.dll, the session library: what a launcher calls to let a LAN game play across
 * the internet through a group server.
 *
 * Calling order: load the library; call OrbLanInit once from a thread that dispatches
 * window messages for the whole session (a 20 ms thread timer drives the connection to
 * the server, so nothing happens while that thread's message loop is not running);
 * optionally wait until OrbLanSessionState reports ORBLAN_STATE_CONNECTED; call
 * OrbLanPreLaunch once; start the game; call OrbLanEndSession when it has ended.
 *
 * Every export uses the cdecl convention and is exported under its undecorated name; a
 * launcher that binds them at run time uses the pointer types at the end of this header.
 * The values (result codes, session states) may be used on any host. */
#ifndef ORBLAN_H
#define ORBLAN_H

#ifdef _WIN32
#define ORBLAN_CALL __cdecl
#else
#define ORBLAN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of OrbLanLastResult; OrbLanResultText gives their texts. */
#define ORBLAN_RESULT_NO_ERROR 0
#define ORBLAN_RESULT_UNUSED (-1)
#define ORBLAN_RESULT_WINSOCK_START (-2)     /* the system's Winsock could not be started */
#define ORBLAN_RESULT_SOCKET (-3)            /* no socket could be had */
#define ORBLAN_RESULT_BIND (-4)              /* the socket could not be bound */
#define ORBLAN_RESULT_NON_BLOCKING (-5)      /* the socket could not be made non-blocking */
#define ORBLAN_RESULT_INVALID_ARGUMENTS (-6) /* an argument is missing or out of range */
#define ORBLAN_RESULT_HOST_LOOKUP (-7)       /* the server's host name does not resolve */
#define ORBLAN_RESULT_NO_ADDRESS (-8)        /* the address does not exist */

/* Where the session stands (OrbLanSessionState), for a launcher to show a player. */
#define ORBLAN_STATE_NONE 0      /* before OrbLanInit, or after OrbLanEndSession */
#define ORBLAN_STATE_WAITING 1   /* waiting for the server to confirm the connection */
#define ORBLAN_STATE_CONNECTED 2 /* the server confirmed; relaying works */
#define ORBLAN_STATE_LOST 3      /* the server closed the connection or stopped answering */

/* Opens a session: connects to the group server serverHost (host name or dotted IPv4)
 * at UDP port serverPort (its low 16 bits), starts the pump timer on the calling thread.
 * Returns 1 when the session is open (the server's confirmation may still be due), 0 on
 * failure (port bits 0, unknown host, no socket); OrbLanLastResult then says why. */
int ORBLAN_CALL OrbLanInit(const char* serverHost, unsigned int serverPort);

/* Joins groupName and prepares gameDir (the current directory becomes gameDir, the
 * session log "orblan.log" is written there, the shim is copied there as wsock32.dll and
 * its deletion scheduled for the next restart; a wsock32.dll that was there is kept
 * aside as "wsock32.dll.orblan-saved" and the restart-time clean-up puts it back) and
 * starts relaying the game's broadcasts. Returns 1 when the game may be started, 0 when
 * nothing was changed (no open session, the connection lost, a missing or empty
 * argument, a group of 64 characters or more, a directory too long for a path of 260
 * bytes once "\wsock32.dll" is appended, a launch of this session still relaying,
 * another session on this machine holding UDP port 3668: ORBLAN_LINK_PORT_TAKEN) or when
 * the shim could not be copied or a wsock32.dll there could not be kept aside (the group
 * was joined and the log written). */
int ORBLAN_CALL OrbLanPreLaunch(const char* gameDir, const char* groupName);

/* Ends the session: stops relaying, tells the server the player leaves (waiting up to a
 * second for it to take note), stops the pump timer, deletes the shim and puts back a
 * wsock32.dll it stood in for (if the game still holds the shim, both happen at the next
 * restart). Always 0; safe to call twice. Call it before unloading the library. */
int ORBLAN_CALL OrbLanEndSession(void);

/* The code of the latest failure since the library was loaded, 0 .. -8; success does
 * not reset it. */
int ORBLAN_CALL OrbLanLastResult(void);

/* The text of a result code, "[ 0] no error" .. "[-8] the address does not exist";
 * "[??] unknown result code" for any other code. Never null; static storage. */
const char* ORBLAN_CALL OrbLanResultText(int code);

/* One of ORBLAN_STATE_NONE .. ORBLAN_STATE_LOST. */
int ORBLAN_CALL OrbLanSessionState(void);

/* The exports as a launcher binds them with GetProcAddress. */
typedef int(ORBLAN_CALL* OrbLanInitFn)(const char* serverHost, unsigned int serverPort);
typedef int(ORBLAN_CALL* OrbLanPreLaunchFn)(const char* gameDir, const char* groupName);
typedef int(ORBLAN_CALL* OrbLanEndSessionFn)(void);
typedef int(ORBLAN_CALL* OrbLanLastResultFn)(void);
typedef const char*(ORBLAN_CALL* OrbLanResultTextFn)(int code);
typedef int(ORBLAN_CALL* OrbLanSessionStateFn)(void);

/* Players behind home routers: how the game's datagrams reach each other member of the
 * group that orblan can route (one with a session library that takes relayed datagrams). */
#define ORBLAN_PATH_TRYING 0 /* probing for a direct path; the server carries datagrams meanwhile */
#define ORBLAN_PATH_DIRECT 1 /* straight to the member, the server not in the way */
#define ORBLAN_PATH_SERVER 2 /* no direct path found: through the group server */
typedef struct OrbLanPeer {
  unsigned int member;          /* the group server's number for the member */
  unsigned int address;         /* where the server sees it: IPv4, network byte order */
  unsigned int port;            /* and its UDP port there */
  unsigned int path;            /* ORBLAN_PATH_... */
  unsigned int rtt_ms;          /* round trip of the direct path; 0 unless direct */
  unsigned int sent_direct;     /* the game's datagrams to it that went directly */
  unsigned int sent_server;     /* ... through the server */
  unsigned int received_direct; /* its game's datagrams that came directly */
  unsigned int received_server; /* ... through the server */
} OrbLanPeer;

/* Fills out with up to max members, in the order of their numbers. Returns how many there
 * are (possibly more than max; 0 until the server has described the group), or -1 when out
 * is null and max is above 0. */
int ORBLAN_CALL OrbLanPeers(OrbLanPeer* out, int max);

/* Writes "a.b.c.d:port", where the group server sees this machine, into text (size bytes,
 * always terminated). Returns 1, or 0 (text empty) while the server has not said. */
int ORBLAN_CALL OrbLanPublicAddress(char* text, int size);

/* Takes the oldest line for the player about something the game tried that orblan cannot
 * carry for it (a TCP connection to a member behind a home router), each told once. Returns
 * 1 with the line in text (size bytes, always terminated, cut to fit), or 0 when none waits. */
int ORBLAN_CALL OrbLanTakeNotice(char* text, int size);

typedef int(ORBLAN_CALL* OrbLanPeersFn)(OrbLanPeer* out, int max);
typedef int(ORBLAN_CALL* OrbLanPublicAddressFn)(char* text, int size);
typedef int(ORBLAN_CALL* OrbLanTakeNoticeFn)(char* text, int size);

/* ---- For launchers that show the player more. A launcher that calls none of these gets
 * the session the three calls above describe, except that OrbLanEndSession now tells the
 * server the session ends (so the player's place in the group is free at once), a
 * wsock32.dll the game directory held before the session is put back when it ends, and
 * OrbLanPreLaunch returns 0 (changing nothing) when another session on this machine holds
 * the game link's UDP port 3668. ---- */

/* The player name in the join record: 1 to 23 bytes, no control characters. Returns 1, or
 * 0 (nothing changed) for a name that does not fit. Without this call the record says
 * "NoName". Call it before OrbLanPreLaunch. */
int ORBLAN_CALL OrbLanSetPlayerName(const char* name);

/* Where the trace lines of the connection to the server go: null, the process's standard
 * output (as without this call); "", nowhere; otherwise appended to the file at that
 * path. Returns 1, or 0 when the file cannot be opened (the lines then go nowhere). */
int ORBLAN_CALL OrbLanSetTraceFile(const char* path);

/* The server's answer to the join (OrbLanStatus.join). A server that does not answer
 * joins leaves it at ORBLAN_JOIN_PENDING. */
#define ORBLAN_JOIN_NONE 0        /* no join sent on the current connection */
#define ORBLAN_JOIN_PENDING 1     /* sent, not answered yet */
#define ORBLAN_JOIN_JOINED 2
#define ORBLAN_JOIN_GROUP_FULL 3  /* the group holds its maximum of players */
#define ORBLAN_JOIN_SERVER_FULL 4 /* no room for another player or group on the server */
#define ORBLAN_JOIN_REFUSED 5     /* another reason, in OrbLanStatus.reason */

/* The game link (OrbLanStatus.link). */
#define ORBLAN_LINK_NONE 0        /* no game launched, or relaying stopped with the connection */
#define ORBLAN_LINK_LISTENING 1   /* the game's broadcasts reach the session on UDP port 3668 */
#define ORBLAN_LINK_PORT_TAKEN 2  /* another program (another session) holds that port */

typedef struct OrbLanStatus {
  unsigned int size;    /* set by the caller: sizeof(OrbLanStatus) */
  int state;            /* ORBLAN_STATE_*, as OrbLanSessionState */
  int join;             /* ORBLAN_JOIN_* */
  int link;             /* ORBLAN_LINK_* */
  int refused;          /* 1: the server's host answered that nothing listens at the server's
                           port (since OrbLanInit or the latest OrbLanReconnect) */
  int round_trip_ms;    /* between this session and the server; -1 unknown */
  int members;          /* players in the group, by the server's latest word; 0 unknown */
  int capacity;         /* players the group may hold at most; 0 unknown */
  char group[64];       /* the group as the server holds it (it matches names without
                           regard to the case of A to Z or surrounding spaces) */
  char reason[64];      /* the server's words for a refusal */
} OrbLanStatus;

/* Fills *status. Returns 1, or 0 when status is null or its size is too small. */
int ORBLAN_CALL OrbLanGetStatus(OrbLanStatus* status);

#define ORBLAN_MEMBER_YOU 1       /* OrbLanMember.flags: this entry is this session */
typedef struct OrbLanMember {
  unsigned int id;      /* the server's number for the player */
  char name[24];        /* as the player's join record gave it */
  int round_trip_ms;    /* between that player and the server; -1 unknown */
  unsigned int flags;   /* ORBLAN_MEMBER_*; other bits may be set, ignore them */
} OrbLanMember;

/* Copies up to max members of the group, as the server last listed them, into out.
 * Returns how many members the server listed (it copies the first max of them); 0 when
 * nothing is known. A group larger than one list holds more: OrbLanStatus.members. */
int ORBLAN_CALL OrbLanGetMembers(OrbLanMember* out, int max);

#define ORBLAN_NOTICE_JOINED 1
#define ORBLAN_NOTICE_LEFT 2
#define ORBLAN_LEFT_ENDED 1       /* OrbLanNotice.reason: its session ended */
#define ORBLAN_LEFT_TIMED_OUT 2   /* it stopped answering */
#define ORBLAN_LEFT_CLOSED 3      /* its connection was closed */
#define ORBLAN_LEFT_RECONNECTED 4 /* it connected again (and rejoins) */
#define ORBLAN_LEFT_MOVED 5       /* it joined another group */
typedef struct OrbLanNotice {
  int kind;             /* ORBLAN_NOTICE_* */
  int reason;           /* ORBLAN_LEFT_*, for a leave; 0 otherwise */
  OrbLanMember member;
} OrbLanNotice;

/* Takes the oldest notice of a player joining or leaving the group that was not taken
 * yet. Returns 1 when one was copied to *out, 0 when none waits. At most 64 wait; when
 * more arrive the oldest are dropped. */
int ORBLAN_CALL OrbLanNextNotice(OrbLanNotice* out);

/* After the connection to the server was lost (ORBLAN_STATE_LOST), or while it is not
 * confirmed, opens a new one to the server OrbLanInit named. Once a game was launched it
 * joins the same group again and relays the running game's broadcasts as soon as the
 * server confirms; the game need not restart. Returns 1 when the new connection was
 * started (the state is then ORBLAN_STATE_WAITING), 0 without a session or when the
 * server's name no longer resolves. */
int ORBLAN_CALL OrbLanReconnect(void);

typedef int(ORBLAN_CALL* OrbLanSetPlayerNameFn)(const char* name);
typedef int(ORBLAN_CALL* OrbLanSetTraceFileFn)(const char* path);
typedef int(ORBLAN_CALL* OrbLanGetStatusFn)(OrbLanStatus* status);
typedef int(ORBLAN_CALL* OrbLanGetMembersFn)(OrbLanMember* out, int max);
typedef int(ORBLAN_CALL* OrbLanNextNoticeFn)(OrbLanNotice* out);
typedef int(ORBLAN_CALL* OrbLanReconnectFn)(void);

#ifdef __cplusplus
}
#endif

#endif
