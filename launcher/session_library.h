// The session library as orblaunch sees it: the three session calls and the extras that
// tell what is going on. orblan_library_win.cpp binds it to orblan.dll; tests fake it.
#ifndef ORBLAUNCH_SESSION_LIBRARY_H
#define ORBLAUNCH_SESSION_LIBRARY_H

#include <string>
#include <vector>

#include "path_report.h"

#include "orblan.h"

namespace orblaunch {

// What State() answers when the library cannot tell (it lacks OrbLanSessionState or
// reports a value outside ORBLAN_STATE_NONE .. ORBLAN_STATE_LOST).
constexpr int kStateUnknown = -1;

// The server's answer to the join (ORBLAN_JOIN_*).
enum class JoinAnswer { kNone = 0, kPending = 1, kJoined = 2, kGroupFull = 3, kServerFull = 4,
                        kRefused = 5, kUnknown = -1 };
// The game link (ORBLAN_LINK_*).
enum class LinkState { kNone = 0, kListening = 1, kPortTaken = 2, kUnknown = -1 };

// What OrbLanGetStatus reports; kUnknown / -1 / 0 / "" where the library cannot tell.
struct SessionStatus {
  JoinAnswer join = JoinAnswer::kUnknown;
  LinkState link = LinkState::kUnknown;
  bool refused = false;       // the server's host said nothing listens at its port
  int round_trip_ms = -1;
  int members = 0;
  int capacity = 0;
  std::string group;          // as the server holds it
  std::string reason;
};

struct GroupMember {
  unsigned id = 0;
  std::string name;
  int round_trip_ms = -1;
  bool you = false;
};

// A player joining or leaving the group (OrbLanNextNotice).
struct GroupNotice {
  bool joined = false;
  int reason = 0;             // ORBLAN_LEFT_* for a leave
  GroupMember member;
};

class SessionLibrary {
 public:
  virtual ~SessionLibrary() = default;
  virtual bool Init(const std::string& host, unsigned port) = 0;          // OrbLanInit == 1
  virtual bool PreLaunch(const std::string& game_dir, const std::string& group) = 0;
  virtual void EndSession() = 0;
  virtual int State() = 0;            // an ORBLAN_STATE_* value, or kStateUnknown
  virtual int LastResult() = 0;       // an ORBLAN_RESULT_* code; 0 when the library cannot tell
  virtual std::string ResultText(int code) = 0;

  // The added exports; a library without them answers as noted.
  virtual bool SetPlayerName(const std::string& name) = 0;  // false: not taken or not offered
  virtual bool SetTraceFile(const char* path) = 0;          // null: standard output
  virtual SessionStatus Status() = 0;
  virtual std::vector<GroupMember> Members() = 0;           // empty when not offered
  virtual bool NextNotice(GroupNotice* out) = 0;            // false when none or not offered
  virtual bool Reconnect() = 0;                             // false when not offered
  // Whether the library offers the added exports at all.
  virtual bool Extended() = 0;
  // The other members and the paths to them; false when the library cannot tell.
  virtual bool Peers(std::vector<PeerPath>* out) { (void)out; return false; }
  // Where the group server sees this machine, "" while unknown or when it cannot tell.
  virtual std::string PublicAddress() { return ""; }
  // The oldest line the library has for the player; false when none waits.
  virtual bool TakeNotice(std::string* line) { (void)line; return false; }
};

}  // namespace orblaunch

#endif
