// Fuzz target for the receive path: datagrams from any source into a transport that has a
// few connections (open, opening, removed with fragments outstanding) and a partly filled
// bucket. Every server option is on in half the runs.
//
// Input: records of [source selector: 1 byte][length: 2 bytes LE][datagram bytes]. The
// selector's low two bits pick the source (the open connection, its address on another
// port, the opening connection's server, a stranger); bit 2 advances the clock 11 s
// before the datagram (so resends, time-outs and expiry run); bit 3 pumps after it.
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "sim_network.h"
#include "transport.h"
#include "wire.h"

namespace {

using orb::SocketAddress;

void OnEvent(int32_t, int32_t, int32_t) {}
void OnData(const uint8_t* data, int32_t length, int32_t, int32_t, int32_t) {
  // Touch every byte handed over, so a wrong length shows under AddressSanitizer.
  volatile uint8_t sum = 0;
  for (int32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  (void)sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orb::sim::Network net(1);
  orb::sim::Host* host = net.AddHost("203.0.113.1");
  orb::TransportOptions o;
  o.io = host;
  o.clock = net.Clock();
  o.sleep = net.Sleeper();
  o.trace = nullptr;
  o.max_connections = 8;
  o.max_incomplete_bytes_per_connection = 8 * 1024;
  o.max_incomplete_bytes_total = 12 * 1024;
  const bool server = size > 0 && (data[0] & 0x80);
  o.reuse_repeated_connect = o.anti_amplification = o.check_control_source = server;
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
  size_t at = 0;
  while (at + 3 <= size) {
    const uint8_t selector = data[at];
    size_t length = orb::ReadU16(data + at + 1);
    at += 3;
    if (length > size - at) length = size - at;
    if (selector & 4) net.Advance(11000);
    net.Inject(sources[selector & 3], me, data + at, length);
    at += length;
    if (selector & 8) t.Pump(0);
  }
  t.Pump(0);
  net.Advance(31000);
  t.Pump(0);
  t.Pump(0);
  return 0;
}
