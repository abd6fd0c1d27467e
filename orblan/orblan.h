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
int __cdecl OrbLanPeers(OrbLanPeer* out, int max);

/* Writes "a.b.c.d:port", where the group server sees this machine, into text (size bytes,
 * always terminated). Returns 1, or 0 (text empty) while the server has not said. */
int __cdecl OrbLanPublicAddress(char* text, int size);

/* Takes the oldest line for the player about something the game tried that orblan cannot
 * carry for it (a TCP connection to a member behind a home router), each told once. Returns
 * 1 with the line in text (size bytes, always terminated, cut to fit), or 0 when none waits. */
int __cdecl OrbLanTakeNotice(char* text, int size);

#ifdef __cplusplus
}
#endif

#endif
