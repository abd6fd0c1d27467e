/* orblan.h is all a launcher author needs: it compiles alone, as plain C, and its pointer
 * types match its prototypes. */
#include "orblan.h"

static OrbLanInitFn init = OrbLanInit;
static OrbLanPreLaunchFn pre_launch = OrbLanPreLaunch;
static OrbLanEndSessionFn end_session = OrbLanEndSession;
static OrbLanLastResultFn last_result = OrbLanLastResult;
static OrbLanResultTextFn result_text = OrbLanResultText;
static OrbLanSessionStateFn session_state = OrbLanSessionState;

int orblan_header_check(void) {
  return (init != 0) + (pre_launch != 0) + (end_session != 0) + (last_result != 0) +
         (result_text != 0) + (session_state != 0) + ORBLAN_STATE_LOST + ORBLAN_RESULT_NO_ADDRESS;
}
