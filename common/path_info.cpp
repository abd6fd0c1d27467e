#include "path_info.h"

#include <string.h>

namespace {

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, static_cast<uint16_t>(v));
  PutU16(p + 2, static_cast<uint16_t>(v >> 16));
}
uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(GetU16(p)) | static_cast<uint32_t>(GetU16(p + 2)) << 16;
}

// Address (as it lies in memory) and port (little-endian): 6 bytes.
void PutAddress(uint8_t* p, const PathAddress& a) {
  memcpy(p, &a.ip, 4);
  PutU16(p + 4, a.port);
}
PathAddress GetAddress(const uint8_t* p) {
  PathAddress a;
  memcpy(&a.ip, p, 4);
  a.port = GetU16(p + 4);
  return a;
}

size_t PeerSize(uint8_t count) { return kPathPeerHeaderSize + count * kPathCandidateSize; }

}  // namespace

size_t BuildPathReport(const PathReport& report, uint8_t* out, size_t capacity) {
  if (out == nullptr || report.count > kMaxPathCandidates) return 0;
  const size_t length = kPathReportHeaderSize + report.count * kPathCandidateSize;
  if (capacity < length) return 0;
  PutU32(out, report.flags);
  PutU32(out + 4, report.key);
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
  out->flags = GetU32(data);
  out->key = GetU32(data + 4);
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
  PutU32(out, info.member);
  PutAddress(out + 4, info.seen);
  PutU16(out + 10, info.peer_count);
  uint8_t* p = out + kPathInfoHeaderSize;
  for (uint16_t i = 0; i < info.peer_count; ++i) {
    const PathPeer& peer = info.peers[i];
    PutU32(p, peer.member);
    PutAddress(p + 4, peer.seen);
    p[10] = peer.flags;
    p[11] = peer.count;
    PutU32(p + 12, peer.key);
    for (uint8_t c = 0; c < peer.count; ++c) {
      PutAddress(p + kPathPeerHeaderSize + c * kPathCandidateSize, peer.candidates[c]);
    }
    p += PeerSize(peer.count);
  }
  return length;
}

bool ParsePathInfo(const uint8_t* data, size_t length, PathInfo* out) {
  if (data == nullptr || length < kPathInfoHeaderSize) return false;
  const uint16_t peers = GetU16(data + 10);
  if (peers > kMaxPathPeers) return false;
  const uint8_t* p = data + kPathInfoHeaderSize;
  size_t left = length - kPathInfoHeaderSize;
  for (uint16_t i = 0; i < peers; ++i) {
    if (left < kPathPeerHeaderSize) return false;
    const uint8_t count = p[11];
    if (count > kMaxPathCandidates || left < PeerSize(count)) return false;
    PathPeer& peer = out->peers[i];
    peer.member = GetU32(p);
    peer.seen = GetAddress(p + 4);
    peer.flags = p[10];
    peer.count = count;
    peer.key = GetU32(p + 12);
    for (uint8_t c = 0; c < count; ++c) {
      peer.candidates[c] = GetAddress(p + kPathPeerHeaderSize + c * kPathCandidateSize);
    }
    p += PeerSize(count);
    left -= PeerSize(count);
  }
  if (left != 0) return false;
  out->member = GetU32(data);
  out->seen = GetAddress(data + 4);
  out->peer_count = peers;
  return true;
}
