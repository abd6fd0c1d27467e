// SessionLibrary over orblan.dll, loaded from orblaunch's own directory and bound by name.
#ifndef ORBLAUNCH_ORBLAN_LIBRARY_WIN_H
#define ORBLAUNCH_ORBLAN_LIBRARY_WIN_H

#include <memory>
#include <string>

#include "session_library.h"

namespace orblaunch {

// Loads dll_path and binds OrbLanInit, OrbLanPreLaunch and OrbLanEndSession (required) and
// OrbLanSessionState, OrbLanLastResult, OrbLanResultText (used when present). Returns null
// with *error set when the file cannot be loaded or a required export is missing.
std::unique_ptr<SessionLibrary> LoadOrbLan(const std::string& dll_path, std::string* error);

}  // namespace orblaunch

#endif
