#include "lan_game.h"

#include <cstdio>

namespace netquest {

const char* TransportName(Transport t) { return t == Transport::kUdp ? "udp" : "ipx"; }

const char* EventName(EventKind k) {
  switch (k) {
    case EventKind::kHello: return "hello";
    case EventKind::kPeer: return "peer";
    case EventKind::kReply: return "reply";
    case EventKind::kEcho: return "echo";
    case EventKind::kJunk: return "junk";
  }
  return "?";
}

LanGame::LanGame(uint32_t id, const std::string& name) : id_(id), name_(CleanName(name)) {}

std::string LanGame::MakeHello(uint64_t now_us) {
  Message m;
  m.kind = MessageKind::kHello;
  m.id = id_;
  m.seq = next_seq_++;
  m.sent_us = now_us;
  m.name = name_;
  return Encode(m);
}

const std::map<uint32_t, Peer>& LanGame::Peers(Transport t) const {
  return peers_[static_cast<int>(t)];
}

size_t LanGame::PeersBothWays(Transport t) const {
  size_t n = 0;
  for (const auto& p : Peers(t))
    if (p.second.hellos > 0 && p.second.replies > 0) ++n;
  return n;
}

Peer& LanGame::Remember(Transport t, const std::string& from, const Message& m, Reaction* r) {
  auto& table = peers_[static_cast<int>(t)];
  auto it = table.find(m.id);
  if (it == table.end()) {
    it = table.emplace(m.id, Peer{}).first;
    it->second.from = from;
    it->second.id = m.id;
    r->events.push_back(Event{EventKind::kPeer, t, from, m.name, m.seq, 0, 0});
  }
  it->second.name = m.name;
  return it->second;
}

Reaction LanGame::OnDatagram(Transport t, const std::string& from, const void* data,
                             size_t length, uint64_t now_us) {
  Reaction r;
  Message m;
  if (!Decode(data, length, &m) || (m.kind == MessageKind::kReply && m.to != id_)) {
    r.events.push_back(Event{EventKind::kJunk, t, from, "", 0, 0, length});
    return r;
  }
  int64_t latency = static_cast<int64_t>(now_us - m.sent_us);
  if (m.id == id_) {
    // Our own broadcast, looped back by the local network (or by a server that echoes).
    r.events.push_back(Event{EventKind::kEcho, t, from, m.name, m.seq, latency, length});
    return r;
  }
  Peer& peer = Remember(t, from, m, &r);
  if (m.kind == MessageKind::kHello) {
    ++peer.hellos;
    r.events.push_back(Event{EventKind::kHello, t, from, m.name, m.seq, latency, length});
    Message reply;
    reply.kind = MessageKind::kReply;
    reply.id = id_;
    reply.seq = m.seq;
    reply.sent_us = now_us;
    reply.name = name_;
    reply.to = m.id;
    r.reply = true;
    r.reply_bytes = Encode(reply);
  } else {
    ++peer.replies;
    r.events.push_back(Event{EventKind::kReply, t, from, m.name, m.seq, latency, length});
  }
  return r;
}

std::string FormatEvent(const Event& e, bool machine) {
  char line[320];
  const char* tr = TransportName(e.transport);
  if (machine) {
    if (e.kind == EventKind::kJunk)
      std::snprintf(line, sizeof line, "NQ junk transport=%s from=%s bytes=%zu", tr,
                    e.from.c_str(), e.bytes);
    else if (e.kind == EventKind::kPeer)
      std::snprintf(line, sizeof line, "NQ peer transport=%s from=%s name=%s", tr,
                    e.from.c_str(), e.name.c_str());
    else
      std::snprintf(line, sizeof line, "NQ %s transport=%s from=%s name=%s seq=%u latency_us=%lld bytes=%zu",
                    EventName(e.kind), tr, e.from.c_str(), e.name.c_str(), e.seq,
                    static_cast<long long>(e.latency_us), e.bytes);
    return line;
  }
  switch (e.kind) {
    case EventKind::kPeer:
      std::snprintf(line, sizeof line, "[%s] new player %s at %s", tr, e.name.c_str(), e.from.c_str());
      break;
    case EventKind::kHello:
      std::snprintf(line, sizeof line, "[%s] %s announced itself from %s (#%u)", tr,
                    e.name.c_str(), e.from.c_str(), e.seq);
      break;
    case EventKind::kReply:
      std::snprintf(line, sizeof line, "[%s] %s answered directly from %s (#%u)", tr,
                    e.name.c_str(), e.from.c_str(), e.seq);
      break;
    case EventKind::kEcho:
      std::snprintf(line, sizeof line, "[%s] heard our own announcement #%u from %s", tr, e.seq,
                    e.from.c_str());
      break;
    case EventKind::kJunk:
      std::snprintf(line, sizeof line, "[%s] ignored %zu bytes from %s that are not NetQuest", tr,
                    e.bytes, e.from.c_str());
      break;
  }
  return line;
}

}  // namespace netquest
