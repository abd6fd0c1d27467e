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
 * its deletion scheduled for the next restart) and starts relaying the game's broadcasts.
 * Returns 1 when the game may be started, 0 when nothing was changed (no open session,
 * the connection lost, a missing or empty argument, a group of 64 characters or more, a
 * directory too long for a path of 260 bytes once "\wsock32.dll" is appended, a launch of
 * this session still relaying) or when the shim could not be copied (the group was
 * joined and the log written). */
int ORBLAN_CALL OrbLanPreLaunch(const char* gameDir, const char* groupName);

/* Ends the session: stops relaying and the pump timer and deletes the shim (if the game
 * still holds it, it goes at the next restart). Always 0; safe to call twice. Call it
 * before unloading the library. */
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

#ifdef __cplusplus
}
#endif

#endif
