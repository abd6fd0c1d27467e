// The session library as orblaunch sees it: the three session calls and the extras that
// tell what is going on. orblan_library_win.cpp binds it to orblan.dll; tests fake it.
#ifndef ORBLAUNCH_SESSION_LIBRARY_H
#define ORBLAUNCH_SESSION_LIBRARY_H

#include <string>
#include <vector>

#include "path_report.h"

namespace orblaunch {

// Values of OrbLanSessionState.
enum class SessionState { kNone = 0, kWaiting = 1, kConnected = 2, kLost = 3, kUnknown = -1 };

// Result codes of the session library that the launcher tells apart.
constexpr int kResultInvalidArguments = -6;
constexpr int kResultHostUnknown = -7;

class SessionLibrary {
 public:
  virtual ~SessionLibrary() = default;
  virtual bool Init(const std::string& host, unsigned port) = 0;          // OrbLanInit == 1
  virtual bool PreLaunch(const std::string& game_dir, const std::string& group) = 0;
  virtual void EndSession() = 0;
  virtual SessionState State() = 0;   // kUnknown when the library cannot tell
  virtual int LastResult() = 0;       // 0 when the library cannot tell
  virtual std::string ResultText(int code) = 0;
  // The other members and the paths to them; false when the library cannot tell.
  virtual bool Peers(std::vector<PeerPath>* out) { (void)out; return false; }
  // Where the group server sees this machine, "" while unknown or when it cannot tell.
  virtual std::string PublicAddress() { return ""; }
  // The oldest line the library has for the player; false when none waits.
  virtual bool TakeNotice(std::string* line) { (void)line; return false; }
};

}  // namespace orblaunch

#endif
