// Lines for the player about what the game tried with another member that orblan cannot
// carry for it (a TCP connection to a member behind a home router): the shim's notices
// (member_notice.h), told once each, kept until a launcher takes them (OrbLanTakeNotice).
// Thread-safe: the relay worker adds, the launcher's thread takes.
#ifndef ORB_SESSION_NOTICES_H
#define ORB_SESSION_NOTICES_H

#include <stdint.h>

#include <deque>
#include <mutex>
#include <set>
#include <string>

#include "member_notice.h"

// The line for a notice about member (its number; 0 when no member is known there).
std::string NoticeLine(const MemberNotice& notice, uint32_t member);

class NoticeBoard {
 public:
  static constexpr size_t kMaxWaiting = 16;

  // Keeps the notice's line unless the same kind for the same address and port was told
  // in this session, or kMaxWaiting lines wait already.
  void Add(const MemberNotice& notice, uint32_t member);
  // The oldest line not yet taken; false when none.
  bool Take(std::string* line);
  // A new session: nothing told yet.
  void Clear();

 private:
  std::mutex lock_;
  std::deque<std::string> waiting_;
  std::set<uint64_t> told_;  // kind, address, port
};

#endif
