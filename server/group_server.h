// The group server proper: accepts members over the peer transport, keeps the group
// registry, checks and relays broadcasts, enforces the limits, and closes everyone on
// shutdown. It owns the transport; time and datagram I/O are passed in, so tests run it
// over a simulated network with a hand-driven clock.
//
// What happens to one data message from member M (in this order):
//   type 0, join:  92 bytes with a group name, else dropped (join_malformed); M leaves its
//                  group and enters the named one unless --max-groups or
//                  --max-group-members refuses it. M is sent the outcome (type 16), and
//                  the group's members hear of M (type 17, membership_notices.h).
//   type 0 from a connection not yet proven: kept, and applied once it is proven.
//   type 10, leave: M's session ended: M leaves its group and its connection is closed.
//   type 8, relay: the record's own checks (records.h), then: M's connection is proven, M
//                  is in a group, the record names that group, M's token bucket pays one
//                  token per recipient. The link datagram then goes to every other proven
//                  member of the group, except to one that already has --max-pending
//                  messages (or --max-pending-bytes) waiting to be sent to it or
//                  acknowledged by it: only that member misses its copy (relay_overloaded).
//   type 20, path report: M takes relayed datagrams and path info from now on, or not
//                  (unicast_relay.cpp); its group's path info is refreshed.
//   type 9, relayed unicast: M is in a group and proven, the receiver is a proven member
//                  of the same group that takes relayed datagrams, the receiver's pending
//                  limits (as for broadcasts), M's
//                  own unicast bucket pays one token. The link datagram goes to the
//                  receiver alone as a type 18 message naming M.
//   other types:   dropped (unknown_type).
// Every link datagram the server passes on carries, in its address field, the address it
// sees the sender at (whatever the sender wrote there), so no member can speak in
// another's name and no far game is told a private address it cannot reach. A member that
// takes relayed datagrams gets broadcasts as type 18 too (the sender named); every other
// member gets them as type 8, as before.
// Every drop is counted by reason and warned about, rate-limited.
#ifndef ORB_SERVER_GROUP_SERVER_H
#define ORB_SERVER_GROUP_SERVER_H

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "admission.h"
#include "drops.h"
#include "log.h"
#include "membership_notices.h"
#include "options.h"
#include "registry.h"
#include "transport.h"
#include "warning_limiter.h"

namespace orb {
namespace server {

// "a.b.c.d:port", for the log.
std::string PeerText(const SocketAddress& a);
// "alice, 203.0.113.10:4000" for the log; a member without a join yet has no name.
std::string Who(const Member& m);

struct ServerCounters {
  uint64_t members_accepted = 0;
  uint64_t joins = 0;            // join records that parsed, refused ones included
  uint64_t leaves = 0;           // members that left a group, for whatever reason
  uint64_t records_in = 0;       // relay records received, valid or not
  uint64_t records_relayed = 0;  // relay records that passed every check
  uint64_t datagrams_out = 0;    // link datagrams queued to recipients
  uint64_t unicast_in = 0;       // relayed unicast messages received, valid or not
  uint64_t unicast_relayed = 0;  // relayed unicast messages passed to their receiver
  uint64_t path_reports = 0;     // path reports accepted
  uint64_t path_infos_out = 0;   // path info messages queued to members
};

class GroupServer : public TransportObserver {
 public:
  static const uint64_t kWarningIntervalMs = 10000;
  static const uint64_t kPathInfoIntervalMs = 200;
  static const uint64_t kSweepIntervalMs = 1000;

  // clock: monotonic milliseconds. io: not owned, outlives the server (null: the
  // platform's sockets on every interface). logger: not owned. challenge_key: for the
  // stateless answers to CONNECTs (admission.h); null draws one from the system.
  GroupServer(const ServerOptions& options, Logger* logger, std::function<uint64_t()> clock,
              DatagramIo* io, const ChallengeKey* challenge_key = nullptr);
  ~GroupServer() override;

  // Opens the listening endpoint on options.port. false with *error set when it cannot.
  bool Start(std::string* error);
  uint16_t port() const;
  // The endpoint's handle, to wait on for readability between passes.
  intptr_t handle() const;
  // How long the loop may wait for a datagram before the next pass, at most cap_ms: 0 while
  // something queued after the last pass's transmit step (a notice, path info) waits to
  // leave, less when a resend or heartbeat falls due sooner.
  int WaitMs(int cap_ms);

  // One pump pass, then the hook set by set_after_pass, then the statistics line when
  // it is due.
  void RunOnce();
  // Called after every pump pass (the batching I/O flushes its sends there).
  void set_after_pass(std::function<void()> hook) { after_pass_ = std::move(hook); }

  // Sends PEERCLOSE to every member; from now on new members are closed at once.
  void BeginShutdown();
  // True once every member confirmed the close, or shutdown_wait_ms have passed since
  // BeginShutdown.
  bool ShutdownFinished();

  // Writes the statistics line now: current members and groups, what happened since the
  // previous line (with rates per second) and since the start.
  void LogStatistics();
  // Writes one line per group with its members, for an operator asking what runs.
  void LogGroups();

  Transport* transport() { return transport_.get(); }
  Logger* logger() { return logger_; }
  GroupRegistry& registry() { return registry_; }
  const DropCounters& drops() const { return drops_; }
  const ServerCounters& counters() const { return counters_; }
  const Admission& admission() const { return admission_; }

  // TransportObserver.
  ConnectAdmission AdmitConnect(const SocketAddress& from, uint16_t port,
                                int32_t remote) override;
  void OnEvent(int32_t address, int32_t code) override;
  void OnData(const uint8_t* data, int32_t length, int32_t type, int32_t address) override;
  void OnAccepted(int32_t address) override;
  void OnProven(int32_t address) override;

 private:
  void HandleJoin(Member* member, const uint8_t* data, size_t length);
  // Puts a proven member into the named group and answers it with the outcome.
  void JoinGroup(Member* member, const std::string& name);
  // The log's line about one of a member's joins (joined, moved, refused): at most one per
  // member per warning interval, so join spam costs one line; the next line that is
  // written says how many were held back.
  void JoinLine(Member* member, LogLevel level, const std::string& text);
  // Closes connections that joined no group within --join-timeout (member_admission.cpp).
  void SweepJoinTimeouts();
  // Sends PEERCLOSE and forgets the connection, counting why (a rate-limited warning).
  // outcome, when given, is sent first, so a player's session can say why it ends.
  void CloseConnection(int32_t address, DropReason reason, const char* detail,
                       const JoinOutcome* outcome = nullptr);
  // Whether the member already has as much waiting for it as one member may.
  bool Backlogged(int32_t address, size_t adding);
  void HandleRelay(Member* member, const uint8_t* data, size_t length);
  void HandleLeave(Member* member);
  void Drop(DropReason reason, const Member* member, const char* detail);
  // Takes the member out of the registry, telling its group why; how, when not null, is
  // logged ("timed out", ...).
  void RemoveMember(int32_t address, const char* how, LeaveReason why);
  // The answer to a player the server has no room for.
  JoinOutcome ServerFull() const;
  // Answers a refused join, counts it and logs it through JoinLine; left_text says which
  // group the member left on the way.
  void RefuseJoin(Member* member, const JoinOutcome& outcome, DropReason counted,
                  const std::string& left_text);
  void SendPeerClose(int32_t address);
  bool Proven(Member* member);
  // Relayed unicast and path info (unicast_relay.cpp).
  void HandleUnicast(Member* member, const uint8_t* data, size_t length);
  void HandlePathReport(Member* member, const uint8_t* data, size_t length);
  // Sends the link datagram of `from` to every recipient, stamped with from's address: as
  // type 18 to members that take relayed datagrams, as type 8 to the others.
  void FanOut(Member* from, const uint8_t* link, size_t length);
  // The group's path info is sent again at the next flush (at most every
  // kPathInfoIntervalMs, so join or report spam costs the server little).
  void PathInfoDue(const std::string& group);
  // What the group hears of `member` changed: its path info is due, and relays from it
  // wait for nobody's flush (PathInfoBeforeRelay).
  void PathChanged(Member* member);
  // Before the server passes `from`'s datagram to `to`: a recipient not yet told of the
  // sender's latest path is told now, unless it was told less than kPathInfoIntervalMs ago,
  // so that its session library knows where the game's answers go before the game hears the
  // sender.
  void PathInfoBeforeRelay(const Member& from, Member* to);
  void FlushPathInfo();
  void SendPathInfo(Member* to);
  static uint64_t SocketKey(const SocketAddress& a) {
    return static_cast<uint64_t>(a.ip) << 16 | a.port;
  }

  ServerOptions options_;
  Logger* logger_;
  std::function<uint64_t()> clock_;
  DatagramIo* io_;
  std::function<void()> after_pass_;
  std::unique_ptr<Transport> transport_;
  Endpoint* endpoint_ = nullptr;
  GroupRegistry registry_;
  Admission admission_;
  MembershipNotices notices_;
  // Which member a socket address belongs to: a second connection from the same address
  // and port replaces the first (the transport would hand the first all the data).
  std::unordered_map<uint64_t, int32_t> by_socket_;
  DropCounters drops_;
  ServerCounters counters_;
  ServerCounters counters_at_last_stats_;
  uint64_t last_stats_ms_ = 0;
  WarningLimiter warnings_;
  std::vector<int32_t> recipients_;  // reused by every relay
  std::vector<Member*> backlogged_;  // likewise
  std::vector<uint8_t> stamped_;     // a link datagram with the sender's address, reused
  std::vector<uint8_t> relayed_;     // the same as a type 18 message, reused
  std::vector<std::string> path_info_due_;  // groups whose path info is to be sent
  std::vector<int32_t> path_info_owed_;     // reporting members not yet proven
  uint64_t next_path_info_ms_ = 0;
  uint64_t path_seq_ = 0;  // counts changes to any group's path info
  uint64_t next_stats_ms_ = 0;
  uint64_t next_sweep_ms_ = 0;
  bool shutting_down_ = false;
  uint64_t shutdown_deadline_ms_ = 0;
};

}  // namespace server
}  // namespace orb

#endif
