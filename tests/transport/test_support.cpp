#include "test_support.h"

namespace orb {
namespace test {

std::vector<Event> g_events;
std::vector<Data> g_data;

void RecordEvent(int32_t address, int32_t code, int32_t zero) {
  (void)zero;
  g_events.push_back(Event{address, code});
}

void RecordData(const uint8_t* data, int32_t length, int32_t type, int32_t address, int32_t zero) {
  (void)zero;
  g_data.push_back(Data{std::vector<uint8_t>(data, data + length), type, address});
}

Peer::Peer(sim::Network& network, const char* ip, TransportOptions options, uint16_t port)
    : net(network), host(network.AddHost(ip)) {
  g_events.clear();
  g_data.clear();
  options.io = host;
  options.clock = network.Clock();
  options.sleep = network.Sleeper();
  if (options.trace) options.trace = [this](const char* line) { trace.push_back(line); };
  if (!options.observer) options.observer = &recorder;
  t.reset(new Transport(options));
  endpoint = t->CreateEndpoint(port);
}

size_t Peer::Count(const std::string& line) const {
  size_t n = 0;
  for (auto& l : trace) n += l == line;
  return n;
}

std::vector<uint8_t> AckPayload(uint32_t id, uint16_t type, uint16_t seq) {
  std::vector<uint8_t> p(8);
  WriteAckPayload(p.data(), id, type, seq);
  return p;
}

std::vector<uint8_t> Word(int32_t value) {
  std::vector<uint8_t> p(4);
  WriteU32(p.data(), static_cast<uint32_t>(value));
  return p;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return b;
}

PeerHeader HeaderOf(const sim::WireDatagram& d) { return ReadPeerHeader(d.bytes.data()); }

}  // namespace test
}  // namespace orb
