// The stateless answer to a CONNECT. A server under a flood of CONNECTs from forged source
// addresses cannot hold a connection record for each: instead it answers with a
// CONFIRM_CONNECT whose message id and accepting-side address are computed from a keyed
// hash of where the answer goes, and keeps nothing. A peer built to the published format
// acknowledges that CONFIRM_CONNECT with its message id, from its own socket; only then,
// when the id checks out against the socket the acknowledgement came from, does the
// connection come into being, already proven. A forger never sees the answer, so it cannot
// produce the acknowledgement.
//
// Message id: the CONNECT's connecting-side address in the top 8 bits (0 when it does not
// fit in 1..255, and the connection then learns it from the CONNECT's next repeat) and 24
// bits of the hash. Accepting-side address: 2^30 plus 30 more bits of the hash, far above
// the addresses a counter hands out. The hash covers the IPv4 address and port the answer
// is sent to, the 8-bit address field and the clock's epoch (2^15 ms); an answer is good
// for the epoch it was made in and the next one, 33 to 65 s.
#ifndef ORB_TRANSPORT_CHALLENGE_H
#define ORB_TRANSPORT_CHALLENGE_H

#include <stddef.h>
#include <stdint.h>

namespace orb {

struct ChallengeKey {
  uint64_t k0 = 0;
  uint64_t k1 = 0;
};

// SipHash-2-4 of n bytes under the key.
uint64_t SipHash24(const ChallengeKey& key, const uint8_t* data, size_t n);

struct Challenge {
  uint32_t message_id;        // of the CONFIRM_CONNECT
  int32_t accepting_address;  // its second field
};

// The CONFIRM_CONNECT fields for a CONNECT naming `remote` whose answer goes to ip:port.
Challenge MakeChallenge(const ChallengeKey& key, uint32_t ip, uint16_t port, int32_t remote,
                        uint64_t now_ms);

// Whether an acknowledged message id, from ip:port, is an answer made by MakeChallenge in
// this epoch or the one before. On true, *remote is the CONNECT's address (0: it did not
// fit the id) and *accepting the accepting-side address that was sent.
bool CheckChallenge(const ChallengeKey& key, uint32_t ip, uint16_t port, uint32_t message_id,
                    uint64_t now_ms, int32_t* remote, int32_t* accepting);

}  // namespace orb

#endif
