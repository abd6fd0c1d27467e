// What NetQuest does with the datagrams it hears, free of sockets and clocks: the Windows
// main loop (netquest_main.cpp) feeds it every datagram with the source address text that
// Winsock reported, sends the reply it asks for back to that very address, and prints the
// events. Native tests drive it directly.
#ifndef NETQUEST_LAN_GAME_H
#define NETQUEST_LAN_GAME_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "message.h"

namespace netquest {

enum class Transport { kUdp, kIpx };
const char* TransportName(Transport t);  // "udp" or "ipx"

enum class EventKind {
  kHello,  // a HELLO from another game
  kPeer,   // the first datagram from a game (a run id) not heard before on that transport
  kReply,  // a REPLY to one of our HELLOs
  kEcho,   // one of our own HELLOs came back
  kJunk,   // a datagram on the game's port that is no NetQuest message (or a REPLY for another game)
};
const char* EventName(EventKind k);  // "hello", "peer", "reply", "echo", "junk"

struct Event {
  EventKind kind;
  Transport transport;
  std::string from;        // source address as the game saw it
  std::string name;        // player name (empty for junk)
  uint32_t seq = 0;
  int64_t latency_us = 0;  // receive time minus the sender's stamp; meaningful on one machine
  size_t bytes = 0;        // datagram length
};

struct Reaction {
  std::vector<Event> events;
  bool reply = false;       // send reply_bytes back to the datagram's source
  std::string reply_bytes;
};

// One other game, known by its run id: a game may announce itself from one socket and answer
// from another, so its datagrams need not all come from one address.
struct Peer {
  std::string name;
  std::string from;      // the address its first datagram came from
  uint32_t id = 0;
  uint32_t hellos = 0;   // HELLOs heard from it
  uint32_t replies = 0;  // REPLYs it sent to our HELLOs
};

class LanGame {
 public:
  LanGame(uint32_t id, const std::string& name);

  uint32_t id() const { return id_; }
  const std::string& name() const { return name_; }

  // The next announcement; every call takes a new sequence number.
  std::string MakeHello(uint64_t now_us);

  // One datagram heard on transport t from the address text from.
  Reaction OnDatagram(Transport t, const std::string& from, const void* data, size_t length,
                      uint64_t now_us);

  // Peers heard on t, by run id.
  const std::map<uint32_t, Peer>& Peers(Transport t) const;

  // Peers on t that both announced themselves and answered one of our HELLOs.
  size_t PeersBothWays(Transport t) const;

 private:
  Peer& Remember(Transport t, const std::string& from, const Message& m, Reaction* r);

  uint32_t id_;
  std::string name_;
  uint32_t next_seq_ = 1;
  std::map<uint32_t, Peer> peers_[2];
};

// One event as text: a human sentence, or with machine set one line of key=value fields:
//   NQ hello transport=udp from=203.0.113.12:26000 name=bob seq=4 latency_us=20450 bytes=57
std::string FormatEvent(const Event& e, bool machine);

}  // namespace netquest

#endif
