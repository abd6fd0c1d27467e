// Fuzz target: datagrams from the internet into a running group server.
//
// The server starts with two members connected, proven and joined to one group, so relays,
// joins and control messages reach every branch. The members are played by hand on raw
// sockets (cheap to set up for every input): they acknowledge whatever the server sends
// them. The first input byte picks the mode, bit 0:
//   raw (0): records of [source: 1 byte][length: 2 bytes LE][datagram bytes];
//   structured (1): records of [source: 1 byte][what to build: peer_input.h];
// and with bit 1 both members report that they take relayed datagrams as they join, as our
// session library does, so relayed unicast and path info are in play from the start.
// The source byte's low three bits pick who sends: member 0 or 1 from its own socket, a
// stranger, member 0's address with another port, or a forged address (an address from the
// input in 198.51.100.0/24, with the port from the input); bit 6 runs a pump pass after the
// record, bit 7 moves the clock on first, 11 s (resends) or with bit 5 31 s (time-outs,
// expiry, the join time-out). Afterwards the clock runs on until everything unanswered has timed out, and
// the server's tables are checked against each other and against its limits.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <unordered_map>

#include "bytes.h"
#include "group_server.h"
#include "message_types.h"
#include "path_info.h"
#include "peer_input.h"
#include "records.h"
#include "sim_network.h"
#include "wire.h"

using namespace orb;
using namespace orb::server;

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

const char kServer[] = "203.0.113.1";
const uint16_t kPort = 3669;

// A member on a raw socket that acknowledges everything but acknowledgements.
struct RawMember {
  RawMember(sim::Network* net, const char* ip) : host(net->AddHost(ip)) {
    uint16_t port;
    Check(host->Open(0, &handle, &port) == RESULT_NO_ERROR);
    where = SocketAddress{host->Ip(), port};
  }
  void Send(const std::vector<uint8_t>& d, const SocketAddress& to) {
    host->SendTo(handle, d.data(), static_cast<int>(d.size()), to);
  }
  void Answer(const SocketAddress& to) {
    uint8_t d[kReceiveBufferBytes];
    SocketAddress from;
    int error;
    for (int n; (n = host->Receive(handle, d, sizeof d, &from, &error)) != DatagramIo::kNothing;) {
      if (n < kPeerHeaderBytes) continue;
      const PeerHeader h = ReadPeerHeader(d);
      if (h.type == ACKNOWLEDGE) continue;
      uint8_t ack[kPeerHeaderBytes + 8];
      WritePeerHeader(ack, PeerHeader{++next_id, ACKNOWLEDGE, 1, 1, 8});
      WriteAckPayload(ack + kPeerHeaderBytes, h.id, h.type, h.seq);
      host->SendTo(handle, ack, sizeof ack, to);
    }
  }
  sim::Host* host;
  intptr_t handle = 0;
  SocketAddress where;
  uint32_t next_id = 0;
};

}  // namespace

// Everything an input allocates is freed when it ends: a small quarantine still catches a
// use after free within the input, without the page faults of a large one, and short
// allocation stacks keep each malloc cheap. ASAN_OPTIONS overrides both.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16:malloc_context_size=4";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::Network net;
  net.Advance(1000000);
  sim::Host* server_io = net.AddHost(kServer);
  Logger quiet([](LogLevel, const char*) {});
  ServerOptions options;
  options.port = kPort;
  options.max_members = 8;
  options.max_groups = 4;
  options.max_group_members = 4;
  options.max_per_ip = 3;
  options.max_unproven = 4;
  options.max_pending = 16;
  options.join_timeout_s = 40;
  ChallengeKey key;
  key.k0 = 1;
  key.k1 = 2;
  GroupServer gs(options, &quiet, net.Clock(), server_io, &key);
  std::string error;
  Check(gs.Start(&error));
  const SocketAddress to{ParseIPv4(kServer), kPort};

  RawMember a(&net, "203.0.113.10"), b(&net, "203.0.113.11");
  RawMember* members[2] = {&a, &b};
  // What the server sent to each socket address lately: what may be acknowledged.
  std::unordered_map<uint64_t, std::vector<fuzz::Sent>> sent;
  auto key_of = [](const SocketAddress& s) { return static_cast<uint64_t>(s.ip) << 16 | s.port; };
  auto pass = [&] {
    gs.RunOnce();
    for (const sim::WireDatagram& d : net.Tapped()) {
      if (d.from.ip != to.ip || d.bytes.size() < static_cast<size_t>(kPeerHeaderBytes)) continue;
      const PeerHeader h = ReadPeerHeader(d.bytes.data());
      std::vector<fuzz::Sent>& list = sent[key_of(d.to)];
      if (list.size() == 16) list.erase(list.begin());
      list.push_back(fuzz::Sent{h.id, h.type, h.seq});
    }
    net.ClearTap();
    for (RawMember* m : members) m->Answer(to);
    net.Advance(20);
  };
  // Connect and join at once: the join waits for the connection to be proven.
  uint8_t join[kJoinRecordSize];
  Check(BuildJoinRecord("fuzz", join));
  for (RawMember* m : members) {
    m->Send(sim::Datagram(++m->next_id, CONNECT, 1, 1, sim::ConnectBytes(m->where.port, 1)), to);
    m->Send(sim::Datagram(++m->next_id, kMsgJoin, 1, 1, std::vector<uint8_t>(join, join + sizeof join)), to);
  }
  for (int i = 0; i < 3; ++i) pass();
  Check(gs.registry().FindGroup("fuzz") != nullptr);
  fuzz::Reader in(data, size);
  const uint8_t mode = in.U8();
  if (mode & 2) {
    for (RawMember* m : members) {
      PathReport report = {};
      report.flags = kPathTakesRelayed;
      report.key = m->where.port;
      report.count = 1;
      report.candidates[0] = PathAddress{m->where.ip, m->where.port};
      uint8_t bytes[kPathReportHeaderSize + kPathCandidateSize];
      Check(BuildPathReport(report, bytes, sizeof bytes) == sizeof bytes);
      m->Send(sim::Datagram(++m->next_id, kMsgPathReport, 1, 1,
                            std::vector<uint8_t>(bytes, bytes + sizeof bytes)), to);
    }
    pass();
  }

  sim::Host* stranger_io = net.AddHost("198.51.100.9");
  sim::Host* alias_io = net.AddHost("203.0.113.10");
  intptr_t stranger, alias;
  uint16_t port;
  Check(stranger_io->Open(9000, &stranger, &port) == RESULT_NO_ERROR);
  Check(alias_io->Open(static_cast<uint16_t>(a.where.port + 1), &alias, &port) == RESULT_NO_ERROR);

  const bool structured = mode & 1;
  net.SetTap(structured);
  fuzz::Context context;
  context.groups = {"fuzz", "other"};
  std::vector<std::vector<uint8_t>> datagrams;
  while (!in.empty()) {
    const uint8_t source = in.U8();
    SocketAddress from;
    switch (source & 7) {
      case 0: case 5: from = a.where; break;
      case 1: case 6: from = b.where; break;
      case 2: from = SocketAddress{stranger_io->Ip(), 9000}; break;
      case 3: from = SocketAddress{alias_io->Ip(), static_cast<uint16_t>(a.where.port + 1)}; break;
      default: {
        const uint8_t low = in.U8();
        from = SocketAddress{sim::Ip("198.51.100.0") | static_cast<uint32_t>(low % 4 + 1) << 24,
                             static_cast<uint16_t>(7000 + in.U8() % 4)};
        break;
      }
    }
    if (source & 0x80) net.Advance(source & 0x20 ? 31000 : 11000);
    datagrams.clear();
    if (structured) {
      auto it = sent.find(key_of(from));
      context.sent = it == sent.end() ? std::vector<fuzz::Sent>() : it->second;
      context.addresses.clear();
      gs.registry().ForEachMember([&](Member& m) { context.addresses.push_back(m.address); });
      context.source_port = from.port;
      context.source_ip = from.ip;
      fuzz::BuildDatagrams(in, context, &datagrams);
    } else {
      datagrams.push_back(in.Bytes(1500));
    }
    for (const auto& d : datagrams) net.Inject(from, to, d.data(), d.size());
    if (source & 0x40) pass();
  }
  pass();
  net.Advance(31000);
  for (int i = 0; i < 3; ++i) pass();

  // Whatever arrived, the tables agree with each other and with the limits.
  GroupRegistry& r = gs.registry();
  size_t proven = 0;
  std::unordered_map<uint32_t, size_t> per_ip;
  r.ForEachMember([&](Member& m) {
    Check(m.group == nullptr || r.FindGroup(m.group->name) == m.group);
    Check(m.group == nullptr || m.proven);
    Check(gs.transport()->AddressExists(m.address));
    if (m.proven) {
      ++proven;
      ++per_ip[static_cast<uint32_t>(m.socket_key >> 16)];
    }
  });
  Check(proven == gs.admission().members());
  Check(r.member_count() - proven == gs.admission().unproven());
  Check(proven <= options.max_members);
  Check(gs.admission().unproven() <= options.max_unproven);
  for (auto& p : per_ip) Check(p.second <= options.max_per_ip);
  Check(r.group_count() <= options.max_groups);
  Check(gs.transport()->ConnectionCount() >= r.member_count());
  Check(gs.counters().records_relayed <= gs.counters().records_in);
  return 0;
}
