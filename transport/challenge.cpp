#include "challenge.h"

namespace orb {
namespace {

inline uint64_t Rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

inline void Round(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
  v0 += v1; v1 = Rotl(v1, 13); v1 ^= v0; v0 = Rotl(v0, 32);
  v2 += v3; v3 = Rotl(v3, 16); v3 ^= v2;
  v0 += v3; v3 = Rotl(v3, 21); v3 ^= v0;
  v2 += v1; v1 = Rotl(v1, 17); v1 ^= v2; v2 = Rotl(v2, 32);
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

const int kEpochShift = 15;  // 32768 ms
const int kIdHashBits = 24;
const uint32_t kIdHashMask = (1u << kIdHashBits) - 1;
const int32_t kAcceptingBase = 1 << 30;

uint64_t ChallengeHash(const ChallengeKey& key, uint32_t ip, uint16_t port, uint32_t field,
                       uint64_t epoch) {
  uint8_t m[16];
  for (int i = 0; i < 4; ++i) m[i] = static_cast<uint8_t>(ip >> (8 * i));
  m[4] = static_cast<uint8_t>(port);
  m[5] = static_cast<uint8_t>(port >> 8);
  m[6] = static_cast<uint8_t>(field);
  m[7] = 0;
  for (int i = 0; i < 8; ++i) m[8 + i] = static_cast<uint8_t>(epoch >> (8 * i));
  return SipHash24(key, m, sizeof m);
}

Challenge FromHash(uint64_t h, uint32_t field) {
  Challenge c;
  c.message_id = (field << kIdHashBits) | (static_cast<uint32_t>(h) & kIdHashMask);
  c.accepting_address = kAcceptingBase | static_cast<int32_t>((h >> kIdHashBits) & 0x3FFFFFFF);
  return c;
}

}  // namespace

uint64_t SipHash24(const ChallengeKey& key, const uint8_t* data, size_t n) {
  uint64_t v0 = 0x736f6d6570736575ull ^ key.k0;
  uint64_t v1 = 0x646f72616e646f6dull ^ key.k1;
  uint64_t v2 = 0x6c7967656e657261ull ^ key.k0;
  uint64_t v3 = 0x7465646279746573ull ^ key.k1;
  const size_t whole = n - n % 8;
  for (size_t i = 0; i < whole; i += 8) {
    const uint64_t m = Load64(data + i);
    v3 ^= m;
    Round(v0, v1, v2, v3);
    Round(v0, v1, v2, v3);
    v0 ^= m;
  }
  uint64_t last = static_cast<uint64_t>(n & 0xFF) << 56;
  for (size_t i = 0; i < n % 8; ++i) last |= static_cast<uint64_t>(data[whole + i]) << (8 * i);
  v3 ^= last;
  Round(v0, v1, v2, v3);
  Round(v0, v1, v2, v3);
  v0 ^= last;
  v2 ^= 0xFF;
  for (int i = 0; i < 4; ++i) Round(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

Challenge MakeChallenge(const ChallengeKey& key, uint32_t ip, uint16_t port, int32_t remote,
                        uint64_t now_ms) {
  const uint32_t field = remote >= 1 && remote <= 255 ? static_cast<uint32_t>(remote) : 0;
  return FromHash(ChallengeHash(key, ip, port, field, now_ms >> kEpochShift), field);
}

bool CheckChallenge(const ChallengeKey& key, uint32_t ip, uint16_t port, uint32_t message_id,
                    uint64_t now_ms, int32_t* remote, int32_t* accepting) {
  const uint32_t field = message_id >> kIdHashBits;
  const uint64_t epoch = now_ms >> kEpochShift;
  for (uint64_t back = 0; back <= 1 && back <= epoch; ++back) {
    const uint64_t h = ChallengeHash(key, ip, port, field, epoch - back);
    if ((static_cast<uint32_t>(h) & kIdHashMask) != (message_id & kIdHashMask)) continue;
    *remote = static_cast<int32_t>(field);
    *accepting = FromHash(h, field).accepting_address;
    return true;
  }
  return false;
}

}  // namespace orb
