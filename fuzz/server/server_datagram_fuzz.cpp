// Fuzz target: datagrams from the internet into a running group gs.
//
// The server starts with two members connected, proven and joined to one group (played
// by peer transports on the simulated network), so relays, joins and control messages
// reach every branch. The input is a series of datagrams, each:
//   1 byte   source: 0 or 1 a member's own socket, 2 a stranger, 3 member 0's address
//            with another port
//   2 bytes  length, little-endian (taken modulo 1500)
//   n bytes  the datagram
// After each one the server and the members pump; the clock advances a little, or 31 s
// when the source byte has its top bit set, so resends and time-outs run too.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "bytes.h"
#include "group_server.h"
#include "message_types.h"
#include "records.h"
#include "sim_network.h"

using namespace orb;
using namespace orb::server;

namespace {

struct Peer : TransportObserver {
  Peer(sim::Network* net, const char* ip) : io(net->AddHost(ip)) {
    TransportOptions o;
    o.clock = net->Clock();
    o.io = io;
    o.trace = nullptr;
    o.observer = this;
    transport.reset(new Transport(o));
    endpoint = transport->CreateEndpoint(0);
  }
  sim::Host* io;
  std::unique_ptr<Transport> transport;
  Endpoint* endpoint;
  int32_t server = 0;
};

void Check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::Network net;
  net.Advance(1000000);
  sim::Host* server_io = net.AddHost("203.0.113.1");
  Logger quiet([](LogLevel, const char*) {});
  ServerOptions options;
  options.port = 3669;
  options.max_members = 8;
  options.max_groups = 4;
  options.max_group_members = 4;
  GroupServer gs(options, &quiet, net.Clock(), server_io);
  std::string error;
  Check(gs.Start(&error));

  Peer a(&net, "203.0.113.10"), b(&net, "203.0.113.11");
  Peer* peers[2] = {&a, &b};
  auto settle = [&](int passes) {
    for (int i = 0; i < passes; ++i) {
      gs.RunOnce();
      a.transport->Pump(0);
      b.transport->Pump(0);
      net.Advance(20);
    }
  };
  uint8_t join[kJoinRecordSize];
  Check(BuildJoinRecord("fuzz", join));
  for (Peer* p : peers) p->server = p->transport->Connect(p->endpoint, "203.0.113.1", 3669, 0);
  settle(4);
  for (Peer* p : peers) p->transport->Send(p->server, join, kJoinRecordSize, kMsgJoin);
  settle(4);

  sim::Host* stranger_io = net.AddHost("198.51.100.9");
  sim::Host* alias_io = net.AddHost("203.0.113.10");
  intptr_t stranger, alias;
  uint16_t port;
  Check(stranger_io->Open(9000, &stranger, &port) == RESULT_NO_ERROR);
  Check(alias_io->Open(a.endpoint->local_port + 1, &alias, &port) == RESULT_NO_ERROR);
  const SocketAddress to{ParseIPv4("203.0.113.1"), 3669};

  size_t at = 0;
  while (at + 3 <= size) {
    uint8_t source = data[at];
    size_t length = ReadU16(data + at + 1) % 1500;
    at += 3;
    if (length > size - at) length = size - at;
    const uint8_t* d = data + at;
    at += length;
    switch (source & 3) {
      case 0: net.Inject(SocketAddress{a.io->Ip(), a.endpoint->local_port}, to, d, length); break;
      case 1: net.Inject(SocketAddress{b.io->Ip(), b.endpoint->local_port}, to, d, length); break;
      case 2: stranger_io->SendTo(stranger, d, static_cast<int>(length), to); break;
      default: alias_io->SendTo(alias, d, static_cast<int>(length), to); break;
    }
    if (source & 0x80) net.Advance(31000);
    settle(1);
  }

  // Whatever arrived, the registry stays consistent with itself and with the limits.
  GroupRegistry& r = gs.registry();
  size_t grouped = 0;
  r.ForEachMember([&](orb::server::Member& m) {
    Check(m.group == nullptr || r.FindGroup(m.group->name) == m.group);
    if (m.group != nullptr) ++grouped;
  });
  Check(r.member_count() <= options.max_members);
  Check(r.group_count() <= options.max_groups);
  Check(gs.counters().records_relayed <= gs.counters().records_in);
  (void)grouped;
  return 0;
}
