// Fuzz target for the receive path: datagrams from any source into a transport that has a
// few connections (open, opening, removed with fragments outstanding) and a partly filled
// bucket. In half the runs every server option is on, with the stateless answer to
// CONNECTs (odd connecting-side addresses are answered statelessly, 0 and below refused).
//
// Input: a first byte (bit 0: structured mode, bit 7: server options), then records of
// [selector: 1 byte][datagram: raw, 2 bytes of length and the bytes; or structured, what to
// build as peer_input.h reads it]. The selector's low two bits pick the source (the open
// connection, its address on another port, the opening connection's server, a stranger);
// bit 2 advances the clock 11 s before the datagram (so resends, time-outs and expiry
// run); bit 3 pumps after it. Afterwards the clock runs on until every fragment has timed
// out, and no connection record may be left that nothing refers to.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "bytes.h"
#include "peer_input.h"
#include "sim_network.h"
#include "transport.h"
#include "wire.h"

namespace {

using orb::SocketAddress;

void Check(bool ok) {
  if (!ok) abort();
}

void OnEvent(int32_t, int32_t, int32_t) {}
void OnData(const uint8_t* data, int32_t length, int32_t, int32_t, int32_t) {
  // Touch every byte handed over, so a wrong length shows under AddressSanitizer.
  volatile uint8_t sum = 0;
  for (int32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  (void)sum;
}

struct Admission : orb::TransportObserver {
  orb::ConnectAdmission AdmitConnect(const SocketAddress&, uint16_t, int32_t remote) override {
    if (remote <= 0) return orb::ConnectAdmission::kRefuse;
    return remote & 1 ? orb::ConnectAdmission::kChallenge : orb::ConnectAdmission::kAdmit;
  }
};

}  // namespace

// Everything an input allocates is freed when it ends: a small quarantine still catches a
// use after free within the input, without the page faults of a large one, and short
// allocation stacks keep each malloc cheap. ASAN_OPTIONS overrides both.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16:malloc_context_size=4";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orb::fuzz::Reader in(data, size);
  const uint8_t mode = in.U8();
  orb::sim::Network net(1);
  net.SetTap(mode & 1);
  orb::sim::Host* host = net.AddHost("203.0.113.1");
  Admission admission;
  orb::TransportOptions o;
  o.io = host;
  o.clock = net.Clock();
  o.sleep = net.Sleeper();
  o.trace = nullptr;
  o.max_connections = 8;
  o.max_incomplete_bytes_per_connection = 8 * 1024;
  o.max_incomplete_bytes_total = 12 * 1024;
  const bool server = mode & 0x80;
  o.reuse_repeated_connect = o.anti_amplification = o.check_control_source = server;
  o.challenge = server;
  o.challenge_key.k0 = 3;
  if (server) o.observer = &admission;
  orb::Transport t(o);
  orb::Endpoint* e = t.CreateEndpoint(3668);
  if (!e) return 0;
  const int32_t open = t.Connect(e, "198.51.100.7", 5000, 3);
  const int32_t opening = t.Connect(e, "198.51.100.8", 6000, 0);
  const int32_t removed = t.Connect(e, "198.51.100.9", 7000, 4);
  for (int32_t a : {open, opening, removed}) {
    t.SetDataCallback(a, OnData);
    for (uint32_t slot = 0; slot < 4; ++slot) t.SetEventCallback(a, slot, OnEvent);
  }
  std::vector<uint8_t> filler(3000, 0x5A);
  t.Send(open, filler.data(), 3000, 8);
  t.Send(removed, filler.data(), 10, 8);
  t.Pump(0);
  t.RemoveConnection(removed);

  const SocketAddress sources[4] = {
      {orb::ParseIPv4("198.51.100.7"), 5000},
      {orb::ParseIPv4("198.51.100.7"), 5001},
      {orb::ParseIPv4("198.51.100.8"), 6000},
      {orb::ParseIPv4("203.0.113.200"), 1234},
  };
  const SocketAddress me = {host->Ip(), e->local_port};
  // What the transport sent to each source lately: what it may acknowledge.
  std::vector<orb::fuzz::Sent> sent[4];
  auto pump = [&] {
    t.Pump(0);
    for (const orb::sim::WireDatagram& d : net.Tapped()) {
      if (d.bytes.size() < static_cast<size_t>(orb::kPeerHeaderBytes)) continue;
      for (int s = 0; s < 4; ++s) {
        if (!(d.to == sources[s])) continue;
        const orb::PeerHeader h = orb::ReadPeerHeader(d.bytes.data());
        if (sent[s].size() == 16) sent[s].erase(sent[s].begin());
        sent[s].push_back(orb::fuzz::Sent{h.id, h.type, h.seq});
      }
    }
    net.ClearTap();
  };
  orb::fuzz::Context context;
  context.addresses = {open, opening, removed, 3, 4, 1 << 30};
  std::vector<std::vector<uint8_t>> datagrams;
  while (!in.empty()) {
    const uint8_t selector = in.U8();
    const int s = selector & 3;
    if (selector & 4) net.Advance(11000);
    datagrams.clear();
    if (mode & 1) {
      context.sent = sent[s];
      context.source_port = sources[s].port;
      context.source_ip = sources[s].ip;
      orb::fuzz::BuildDatagrams(in, context, &datagrams);
    } else {
      datagrams.push_back(in.Bytes(2100));
    }
    for (const auto& d : datagrams) net.Inject(sources[s], me, d.data(), d.size());
    if (selector & 8) pump();
  }
  pump();
  for (int round = 0; round < 2; ++round) {
    net.Advance(31000);
    for (int i = 0; i < 4; ++i) pump();
  }
  // Every record still alive is one in the table, or one that an unacknowledged fragment,
  // a queued one or an unfinished message still needs.
  Check(t.ConnectionRecords() >= t.ConnectionCount());
  if (t.UnacknowledgedCount() == 0 && t.SendQueueLength() == 0 && t.IncompleteBytes() == 0)
    Check(t.ConnectionRecords() == t.ConnectionCount());
  return 0;
}
