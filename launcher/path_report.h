// What the player is told about how the game's datagrams reach each other member: once the
// server has said where it sees this machine, when a direct path to a member opens, when
// none can be found and the server carries them, when a direct path stops working, and at
// the end how many datagrams went which way.
#ifndef ORBLAUNCH_PATH_REPORT_H
#define ORBLAUNCH_PATH_REPORT_H

#include <map>
#include <set>
#include <string>
#include <vector>

namespace orblaunch {

// One member as the session library describes it (OrbLanPeer in orblan.h).
enum class PathKind { kTrying = 0, kDirect = 1, kServer = 2 };
struct PeerPath {
  unsigned member = 0;
  unsigned address = 0;  // IPv4, network byte order
  unsigned port = 0;
  PathKind path = PathKind::kTrying;
  unsigned rtt_ms = 0;
  unsigned sent_direct = 0, sent_server = 0, received_direct = 0, received_server = 0;
};

enum class PathNews { kPublicAddress, kDirect, kThroughServer, kDirectLost };
struct PathEvent {
  PathNews news;
  PeerPath peer;     // not for kPublicAddress
  std::string line;  // for the player
};

class PathReport {
 public:
  // What changed since the last call. A member first seen while probing is not news; its
  // outcome is.
  std::vector<PathEvent> Update(const std::vector<PeerPath>& peers,
                                const std::string& public_address);
  // One line per member: datagrams sent and received, directly and through the server.
  static std::vector<std::string> Summary(const std::vector<PeerPath>& peers);

 private:
  std::map<unsigned, PathKind> told_;  // by member: the last state seen
  std::set<unsigned> told_server_;     // members whose server path was told: once is enough
  std::string public_address_;
};

// "a.b.c.d" of an address in network byte order.
std::string AddressText(unsigned address);

}  // namespace orblaunch

#endif
