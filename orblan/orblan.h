/* orblan.dll, the session library: what a launcher calls to let a LAN game play across
 * the internet through a group server.
 *
 * Calling order: load the library; call OrbLanInit once from a thread that dispatches
 * window messages for the whole session (a 20 ms thread timer drives the connection to
 * the server, so nothing happens while that thread's message loop is not running);
 * optionally wait until OrbLanSessionState reports ORBLAN_STATE_CONNECTED; call
 * OrbLanPreLaunch once; start the game; call OrbLanEndSession when it has ended.
 *
 * Every export uses the cdecl convention and is exported under its undecorated name. */
#ifndef ORBLAN_H
#define ORBLAN_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opens a session: connects to the group server serverHost (host name or dotted IPv4)
 * at UDP port serverPort (its low 16 bits), starts the pump timer on the calling thread.
 * Returns 1 when the session is open (the server's confirmation may still be due), 0 on
 * failure (port bits 0, unknown host, no socket); OrbLanLastResult then says why. */
int __cdecl OrbLanInit(const char* serverHost, unsigned int serverPort);

/* Joins groupName and prepares gameDir (the current directory becomes gameDir, the
 * session log "orblan.log" is written there, the shim is copied there as wsock32.dll and
 * its deletion scheduled for the next restart) and starts relaying the game's broadcasts.
 * Returns 1 when the game may be started, 0 when nothing was changed (no open session,
 * the connection lost, a missing or empty argument, a group of 64 characters or more, a
 * directory too long for a path of 260 bytes once "\wsock32.dll" is appended, a launch of
 * this session still relaying) or when the shim could not be copied (the group was
 * joined and the log written). */
int __cdecl OrbLanPreLaunch(const char* gameDir, const char* groupName);

/* Ends the session: stops relaying and the pump timer and deletes the shim (if the game
 * still holds it, it goes at the next restart). Always 0; safe to call twice. Call it
 * before unloading the library. */
int __cdecl OrbLanEndSession(void);

/* The code of the latest failure since the library was loaded, 0 .. -8; success does
 * not reset it. */
int __cdecl OrbLanLastResult(void);

/* The text of a result code, "[ 0] no error" .. "[-8] the address does not exist";
 * "[??] unknown result code" for any other code. Never null; static storage. */
const char* __cdecl OrbLanResultText(int code);

/* Where the session stands, for a launcher to show a player. */
#define ORBLAN_STATE_NONE 0      /* before OrbLanInit, or after OrbLanEndSession */
#define ORBLAN_STATE_WAITING 1   /* waiting for the server to confirm the connection */
#define ORBLAN_STATE_CONNECTED 2 /* the server confirmed; relaying works */
#define ORBLAN_STATE_LOST 3      /* the server closed the connection or stopped answering */
int __cdecl OrbLanSessionState(void);

/* ---- For launchers that show the player more. A launcher that calls none of these gets
 * the session the three calls above describe, except that OrbLanEndSession now tells the
 * server the session ends (so the player's place in the group is free at once), a
 * wsock32.dll the game directory held before the session is put back when it ends, and
 * OrbLanPreLaunch returns 0 (changing nothing) when another session on this machine holds
 * the game link's UDP port 3668. ---- */

/* The player name in the join record: 1 to 23 bytes, no control characters. Returns 1, or
 * 0 (nothing changed) for a name that does not fit. Without this call the record says
 * "NoName". Call it before OrbLanPreLaunch. */
int __cdecl OrbLanSetPlayerName(const char* name);

/* Where the trace lines of the connection to the server go: null, the process's standard
 * output (as without this call); "", nowhere; otherwise appended to the file at that
 * path. Returns 1, or 0 when the file cannot be opened (the lines then go nowhere). */
int __cdecl OrbLanSetTraceFile(const char* path);

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
int __cdecl OrbLanGetStatus(OrbLanStatus* status);

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
int __cdecl OrbLanGetMembers(OrbLanMember* out, int max);

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
int __cdecl OrbLanNextNotice(OrbLanNotice* out);

/* After the connection to the server was lost (ORBLAN_STATE_LOST), or while it is not
 * confirmed, opens a new one to the server OrbLanInit named. Once a game was launched it
 * joins the same group again and relays the running game's broadcasts as soon as the
 * server confirms; the game need not restart. Returns 1 when the new connection was
 * started (the state is then ORBLAN_STATE_WAITING), 0 without a session or when the
 * server's name no longer resolves. */
int __cdecl OrbLanReconnect(void);

#ifdef __cplusplus
}
#endif

#endif
