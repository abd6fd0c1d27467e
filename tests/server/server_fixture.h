// A group server and its members on the simulated network, all driven by one hand-made
// clock. Each member is a peer transport of its own, as a player's session library is.
#ifndef ORB_TESTS_SERVER_SERVER_FIXTURE_H
#define ORB_TESTS_SERVER_SERVER_FIXTURE_H

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "group_server.h"
#include "membership.h"
#include "message_types.h"
#include "records.h"
#include "sim_network.h"

namespace orb {
namespace test {

using namespace orb::server;

const char kServerIp[] = "203.0.113.1";

struct Player : TransportObserver {
  explicit Player(sim::Network* net, const std::string& ip) : io(net->AddHost(ip.c_str())) {
    TransportOptions o;
    o.clock = net->Clock();
    o.io = io;
    o.trace = nullptr;
    o.observer = this;
    transport.reset(new Transport(o));
    endpoint = transport->CreateEndpoint(0);
  }
  void OnEvent(int32_t address, int32_t code) override {
    if (address == server) events.push_back(code);
  }
  void OnData(const uint8_t* data, int32_t length, int32_t type, int32_t address) override {
    if (address != server) return;
    types.push_back(type);
    if (type == 8) received.emplace_back(data, data + length);
    if (type == 18) relayed.emplace_back(data, data + length);
    if (type == 19) path_infos.emplace_back(data, data + length);
    JoinOutcome outcome;
    if (type == kMsgJoinOutcome && ParseJoinOutcome(data, length, &outcome)) {
      outcomes.push_back(outcome);
    }
    MemberList list;
    if (type == kMsgMembers && ParseMemberList(data, length, &list)) lists.push_back(list);
  }
  void Connect(uint16_t port) { server = transport->Connect(endpoint, kServerIp, port, 0); }
  void Leave() { transport->Send(server, nullptr, 0, kMsgLeave); }
  void Join(const std::string& group, const char* player = ORB_DEFAULT_PLAYER_NAME) {
    uint8_t record[kJoinRecordSize];
    ASSERT_TRUE(BuildJoinRecord(group.c_str(), record, player));
    transport->Send(server, record, kJoinRecordSize, kMsgJoin);
  }
  // A link datagram carrying `payload` (the header's port is 2300), of any length: tests
  // also send ones longer than a shim ever wraps.
  std::vector<uint8_t> LinkDatagram(const std::string& payload) {
    std::vector<uint8_t> link = {0xF9, 0xF9, 0xF9, 0xF9, 0xFC, 0x08, 0, 0};
    uint32_t ip = io->Ip();
    link.insert(link.end(), reinterpret_cast<uint8_t*>(&ip), reinterpret_cast<uint8_t*>(&ip) + 4);
    link.insert(link.end(), payload.begin(), payload.end());
    return link;
  }
  // A relay record as the session library builds it.
  std::vector<uint8_t> RelayRecord(const std::string& group, const std::vector<uint8_t>& link) {
    std::vector<uint8_t> r(kRelayHeaderSize + link.size());
    r.resize(BuildRelayRecord(group.c_str(), 0, link.data(), link.size(), r.data(), r.size()));
    return r;
  }
  void SendRecord(const std::vector<uint8_t>& record, uint16_t type = kMsgRelay) {
    transport->Send(server, record.data(), static_cast<int32_t>(record.size()), type);
  }
  void Relay(const std::string& group, const std::string& payload) {
    SendRecord(RelayRecord(group, LinkDatagram(payload)));
  }
  SocketAddress socket_address() const { return SocketAddress{io->Ip(), endpoint->local_port}; }

  sim::Host* io;
  std::unique_ptr<Transport> transport;
  Endpoint* endpoint = nullptr;
  int32_t server = 0;
  std::vector<int32_t> events;
  std::vector<int32_t> types;                     // of every message from the server, in order
  std::vector<std::vector<uint8_t>> received;     // type 8
  std::vector<std::vector<uint8_t>> relayed;      // type 18
  std::vector<std::vector<uint8_t>> path_infos;   // type 19
  std::vector<JoinOutcome> outcomes;              // type 16, as parsed
  std::vector<MemberList> lists;                  // type 17, as parsed
};

// A session library written from the published format alone, played by hand on one raw
// socket: it leaves `reserved` in bytes 6-7 of its acknowledgements, acknowledges every
// datagram but acknowledgements, and sends single-fragment messages. Silent, it reads and
// answers nothing.
struct RawPeer {
  RawPeer(sim::Network* net, const char* ip, uint16_t port, SocketAddress server,
          uint16_t reserved)
      : io(net->AddHost(ip)), to(server), reserved(reserved) {
    uint16_t bound = 0;
    io->Open(port, &handle, &bound);
    where = SocketAddress{io->Ip(), bound};
  }
  ~RawPeer() { io->Close(handle); }
  void Send(uint16_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> d = sim::Datagram(++next_id, type, 1, 1, payload);
    io->SendTo(handle, d.data(), static_cast<int>(d.size()), to);
  }
  void Connect(int32_t address) { Send(CONNECT, sim::ConnectBytes(where.port, address)); }
  void Join(const std::string& group) {
    std::vector<uint8_t> record(kJoinRecordSize);
    BuildJoinRecord(group.c_str(), record.data());
    Send(kMsgJoin, record);
  }
  void Pump() {
    uint8_t d[kReceiveBufferBytes];
    SocketAddress from;
    int error;
    for (int n; (n = io->Receive(handle, d, sizeof d, &from, &error)) != DatagramIo::kNothing;) {
      if (n < kPeerHeaderBytes) continue;
      const uint16_t type = ReadU16(d + 4);
      if (type == ACKNOWLEDGE) continue;
      types.push_back(type);
      if (silent) continue;
      if (type == kMsgRelay) received.emplace_back(d + kPeerHeaderBytes, d + n);
      std::vector<uint8_t> ack(8);
      memcpy(ack.data(), d, 6);
      WriteU16(ack.data() + 6, reserved);
      Send(ACKNOWLEDGE, ack);
    }
  }

  sim::Host* io;
  SocketAddress to, where;
  intptr_t handle = 0;
  uint16_t reserved;
  uint32_t next_id = 0;
  bool silent = false;
  std::vector<std::vector<uint8_t>> received;  // type 8
  std::vector<uint16_t> types;                   // of everything but acknowledgements
  size_t Count(uint16_t type) const { return std::count(types.begin(), types.end(), type); }
};

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() : server_io_(net_.AddHost(kServerIp)), logger_(CaptureLog()) {
    net_.Advance(1000000);  // the clock starts well away from zero
  }

  Logger CaptureLog() {
    return Logger([this](LogLevel level, const char* line) {
      log_.push_back(std::string(LogLevelName(level)) + " " + line);
    });
  }

  // A fixed key makes every run the same: a forged acknowledgement guesses a stateless
  // answer's 24-bit id once in 2^24, so a flood test under a random key failed now and then.
  ChallengeKey challenge_key_{0x0123456789ABCDEFull, 0x0F1E2D3C4B5A6978ull};

  // Starts the server; tests adjust options_ first.
  void StartServer() {
    options_.port = 3669;
    server_.reset(new GroupServer(options_, &logger_, net_.Clock(), server_io_, &challenge_key_));
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }

  Player* AddPlayer(const std::string& ip) {
    members_.emplace_back(new Player(&net_, ip));
    Player* m = members_.back().get();
    m->Connect(server_->port());
    return m;
  }

  // A member that is connected, proven and in `group`.
  Player* Joined(const std::string& ip, const std::string& group, const char* player = "NoName") {
    Player* m = AddPlayer(ip);
    Settle();
    m->Join(group, player);
    Settle();
    return m;
  }

  // N members joined to group one after the other, at 203.0.113.<first>, <first + 1>, ...,
  // with the player names given (none: "NoName").
  template <size_t N>
  std::array<Player*, N> JoinedGroup(const std::string& group, int first = 10,
                                     const std::array<const char*, N>& names = {}) {
    std::array<Player*, N> players;
    for (size_t i = 0; i < N; ++i) {
      players[i] = Joined("203.0.113." + std::to_string(first + i), group, names[i] ? names[i] : "NoName");
    }
    return players;
  }

  // Pump passes for everyone until the network is quiet, 20 ms of clock apart.
  void Settle(int passes = 6) {
    for (int i = 0; i < passes; ++i) {
      server_->RunOnce();
      PumpPlayers();
      net_.Advance(20);
    }
  }

  // Advances the clock in steps, pumping as it goes.
  void Run(uint64_t ms, uint64_t step = 500) {
    for (uint64_t t = 0; t < ms; t += step) {
      net_.Advance(step);
      server_->RunOnce();
      PumpPlayers();
    }
  }

  void PumpPlayers() {
    for (auto& m : members_) m->transport->Pump(0);
    for (auto& r : raw_) r->Pump();
  }

  RawPeer* AddRaw(const char* ip, uint16_t port, uint16_t reserved = 0) {
    raw_.emplace_back(new RawPeer(&net_, ip, port, ServerAddress(), reserved));
    return raw_.back().get();
  }
  SocketAddress ServerAddress() const { return SocketAddress{server_io_->Ip(), server_->port()}; }
  // The server's address for the member at a socket address (0: none).
  int32_t AtServer(const SocketAddress& where) {
    int32_t found = 0;
    server_->registry().ForEachMember([&](Member& m) {
      if (m.peer == PeerText(where)) found = m.address;
    });
    return found;
  }

  bool LogHas(const std::string& text) const {
    for (const auto& l : log_) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }

  uint64_t Drops(DropReason r) const { return server_->drops().Get(r); }

  sim::Network net_;
  sim::Host* server_io_;
  std::vector<std::string> log_;
  Logger logger_;
  ServerOptions options_;
  std::unique_ptr<GroupServer> server_;
  std::vector<std::unique_ptr<Player>> members_;
  std::vector<std::unique_ptr<RawPeer>> raw_;
};

}  // namespace test
}  // namespace orb

#endif
