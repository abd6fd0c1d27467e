// NetQuest's wire messages: one line of text per datagram, as small LAN games of the
// 1990s used. An announcement (HELLO) goes out by broadcast; every HELLO heard is answered
// with a REPLY sent straight back to the address it came from.
//
//   NETQUEST/1 HELLO id=1a2b3c4d seq=7 t=1733650000123456 name=alice
//   NETQUEST/1 REPLY id=5e6f7a8b seq=7 t=1733650000125000 name=bob to=1a2b3c4d
//
// id   random per run, so a game recognises its own broadcasts coming back
// seq  the announcement's number (a REPLY repeats the number of the HELLO it answers)
// t    the sender's wall clock in microseconds at the moment of sending, so a receiver on
//      the same machine (the demo, the benchmark) can tell how long the datagram travelled
#ifndef NETQUEST_MESSAGE_H
#define NETQUEST_MESSAGE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace netquest {

enum class MessageKind { kHello, kReply };

struct Message {
  MessageKind kind = MessageKind::kHello;
  uint32_t id = 0;        // sender's run id
  uint32_t seq = 0;
  uint64_t sent_us = 0;   // sender's clock at send time
  std::string name;       // player name, at most kMaxNameLength printable characters
  uint32_t to = 0;        // REPLY only: id of the game whose HELLO is answered
};

constexpr size_t kMaxNameLength = 31;
constexpr size_t kMaxMessageBytes = 160;

// Player names travel as one token: anything outside printable ASCII, spaces and '='
// become '_', and the name is cut to kMaxNameLength. An empty name becomes "player".
std::string CleanName(const std::string& name);

// The datagram text for m (name cleaned as above); never longer than kMaxMessageBytes.
std::string Encode(const Message& m);

// Parses one datagram. Returns false, leaving out unspecified, for anything that is not a
// well-formed NETQUEST/1 message: foreign traffic on the game's port is simply ignored.
bool Decode(const void* data, size_t length, Message* out);

}  // namespace netquest

#endif
