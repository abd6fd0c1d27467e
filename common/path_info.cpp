#include "path_info.h"

#include <string.h>

#include "bytes.h"

namespace {

// Address (as it lies in memory) and port (little-endian): 6 bytes.
void PutAddress(uint8_t* p, const PathAddress& a) {
  memcpy(p, &a.ip, 4);
  orb::WriteU16(p + 4, a.port);
}
PathAddress GetAddress(const uint8_t* p) {
  PathAddress a;
  memcpy(&a.ip, p, 4);
  a.port = orb::ReadU16(p + 4);
  return a;
}

size_t PeerSize(uint8_t count) { return kPathPeerHeaderSize + count * kPathCandidateSize; }

}  // namespace

size_t BuildPathReport(const PathReport& report, uint8_t* out, size_t capacity) {
  if (out == nullptr || report.count > kMaxPathCandidates) return 0;
  const size_t length = kPathReportHeaderSize + report.count * kPathCandidateSize;
  if (capacity < length) return 0;
  orb::WriteU32(out, report.flags);
  orb::WriteU32(out + 4, report.key);
  out[8] = report.count;
  out[9] = out[10] = out[11] = 0;
  for (uint8_t i = 0; i < report.count; ++i) {
    PutAddress(out + kPathReportHeaderSize + i * kPathCandidateSize, report.candidates[i]);
  }
  return length;
}

bool ParsePathReport(const uint8_t* data, size_t length, PathReport* out) {
  if (data == nullptr || length < kPathReportHeaderSize) return false;
  const uint8_t count = data[8];
  if (count > kMaxPathCandidates ||
      length != kPathReportHeaderSize + count * kPathCandidateSize) {
    return false;
  }
  out->flags = orb::ReadU32(data);
  out->key = orb::ReadU32(data + 4);
  out->count = count;
  for (uint8_t i = 0; i < count; ++i) {
    out->candidates[i] = GetAddress(data + kPathReportHeaderSize + i * kPathCandidateSize);
  }
  return true;
}

size_t BuildPathInfo(const PathInfo& info, uint8_t* out, size_t capacity) {
  if (out == nullptr || info.peer_count > kMaxPathPeers) return 0;
  size_t length = kPathInfoHeaderSize;
  for (uint16_t i = 0; i < info.peer_count; ++i) {
    if (info.peers[i].count > kMaxPathCandidates) return 0;
    length += PeerSize(info.peers[i].count);
  }
  if (capacity < length) return 0;
  orb::WriteU32(out, info.member);
  PutAddress(out + 4, info.seen);
  orb::WriteU16(out + 10, info.peer_count);
  uint8_t* p = out + kPathInfoHeaderSize;
  for (uint16_t i = 0; i < info.peer_count; ++i) {
    const PathPeer& peer = info.peers[i];
    orb::WriteU32(p, peer.member);
    PutAddress(p + 4, peer.seen);
    p[10] = peer.flags;
    p[11] = peer.count;
    orb::WriteU32(p + 12, peer.key);
    for (uint8_t c = 0; c < peer.count; ++c) {
      PutAddress(p + kPathPeerHeaderSize + c * kPathCandidateSize, peer.candidates[c]);
    }
    p += PeerSize(peer.count);
  }
  return length;
}

bool ParsePathInfo(const uint8_t* data, size_t length, PathInfo* out) {
  if (data == nullptr || length < kPathInfoHeaderSize) return false;
  const uint16_t peers = orb::ReadU16(data + 10);
  if (peers > kMaxPathPeers) return false;
  const uint8_t* p = data + kPathInfoHeaderSize;
  size_t left = length - kPathInfoHeaderSize;
  for (uint16_t i = 0; i < peers; ++i) {
    if (left < kPathPeerHeaderSize) return false;
    const uint8_t count = p[11];
    if (count > kMaxPathCandidates || left < PeerSize(count)) return false;
    PathPeer& peer = out->peers[i];
    peer.member = orb::ReadU32(p);
    peer.seen = GetAddress(p + 4);
    peer.flags = p[10];
    peer.count = count;
    peer.key = orb::ReadU32(p + 12);
    for (uint8_t c = 0; c < count; ++c) {
      peer.candidates[c] = GetAddress(p + kPathPeerHeaderSize + c * kPathCandidateSize);
    }
    p += PeerSize(count);
    left -= PeerSize(count);
  }
  if (left != 0) return false;
  out->member = orb::ReadU32(data);
  out->seen = GetAddress(data + 4);
  out->peer_count = peers;
  return true;
}
