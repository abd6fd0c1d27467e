#include "member_notice.h"

#include "bytes.h"
#include "link.h"

size_t BuildMemberNotice(const MemberNotice& notice, uint8_t* out, size_t capacity) {
  if (out == nullptr || capacity < kMemberNoticeSize) return 0;
  if (notice.kind != kMemberTcpConnect && notice.kind != kMemberTcpFailed) return 0;
  uint8_t body[8] = {notice.kind, 0};
  orb::WriteU16(body + 2, notice.port);
  orb::WriteU32(body + 4, notice.kind == kMemberTcpFailed ? static_cast<uint32_t>(notice.error) : 0);
  return static_cast<size_t>(LinkWrap(out, capacity, 0, notice.member_ip, body, sizeof body));
}

bool ParseMemberNotice(const uint8_t* data, size_t length, MemberNotice* out) {
  if (length != kMemberNoticeSize || !LinkIsDatagram(data, length) || LinkGetPort(data) != 0) {
    return false;
  }
  const uint8_t* body = data + LINK_HEADER_SIZE;
  if (body[0] != kMemberTcpConnect && body[0] != kMemberTcpFailed) return false;
  out->kind = body[0];
  out->member_ip = LinkGetAddress(data);
  out->port = orb::ReadU16(body + 2);
  out->error = static_cast<int32_t>(orb::ReadU32(body + 4));
  return true;
}
