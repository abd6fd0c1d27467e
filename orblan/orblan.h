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

#ifdef __cplusplus
}
#endif

#endif
