#include "notices.h"

#include <stdio.h>
#include <string.h>

std::string NoticeLine(const MemberNotice& notice, uint32_t member) {
  uint8_t b[4];
  memcpy(b, &notice.member_ip, 4);
  char who[80];
  if (member != 0) {
    snprintf(who, sizeof who, "member %u at %u.%u.%u.%u:%u", member, b[0], b[1], b[2], b[3],
             notice.port);
  } else {
    snprintf(who, sizeof who, "%u.%u.%u.%u:%u", b[0], b[1], b[2], b[3], notice.port);
  }
  char line[400];
  if (notice.kind == kMemberTcpFailed) {
    snprintf(line, sizeof line,
             "the game's TCP connection to %s could not be made (Winsock error %d): a player "
             "behind a home router takes TCP connections only on a port forwarded to them",
             who, static_cast<int>(notice.error));
  } else {
    snprintf(line, sizeof line,
             "the game opens a TCP connection to %s, who is behind a home router: that works "
             "only if TCP port %u is forwarded to them there (UDP and IPX need nothing "
             "forwarded)", who, notice.port);
  }
  return line;
}

void NoticeBoard::Add(const MemberNotice& notice, uint32_t member) {
  const uint64_t key = static_cast<uint64_t>(notice.kind) << 48 ^
                       static_cast<uint64_t>(notice.member_ip) << 16 ^ notice.port;
  std::lock_guard<std::mutex> hold(lock_);
  if (waiting_.size() >= kMaxWaiting || !told_.insert(key).second) return;
  waiting_.push_back(NoticeLine(notice, member));
}

bool NoticeBoard::Take(std::string* line) {
  std::lock_guard<std::mutex> hold(lock_);
  if (waiting_.empty()) return false;
  *line = waiting_.front();
  waiting_.pop_front();
  return true;
}

void NoticeBoard::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  waiting_.clear();
  told_.clear();
}
