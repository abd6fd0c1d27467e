// The session library as orblaunch sees it: the three session calls and the extras that
// tell what is going on. orblan_library_win.cpp binds it to orblan.dll; tests fake it.
#ifndef ORBLAUNCH_SESSION_LIBRARY_H
#define ORBLAUNCH_SESSION_LIBRARY_H

#include <string>

#include "orblan.h"

namespace orblaunch {

// What State() answers when the library cannot tell (it lacks OrbLanSessionState or
// reports a value outside ORBLAN_STATE_NONE .. ORBLAN_STATE_LOST).
constexpr int kStateUnknown = -1;

class SessionLibrary {
 public:
  virtual ~SessionLibrary() = default;
  virtual bool Init(const std::string& host, unsigned port) = 0;          // OrbLanInit == 1
  virtual bool PreLaunch(const std::string& game_dir, const std::string& group) = 0;
  virtual void EndSession() = 0;
  virtual int State() = 0;            // an ORBLAN_STATE_* value, or kStateUnknown
  virtual int LastResult() = 0;       // an ORBLAN_RESULT_* code; 0 when the library cannot tell
  virtual std::string ResultText(int code) = 0;
};

}  // namespace orblaunch

#endif
