#include "peer_input.h"

#include <string.h>

#include <algorithm>

#include "bytes.h"
#include "link.h"
#include "message_types.h"
#include "path_info.h"
#include "records.h"
#include "transport.h"
#include "wire.h"

namespace orb {
namespace fuzz {
namespace {

const uint16_t kControlTypes[] = {CONNECT, ACKNOWLEDGE, CONFIRM_CONNECT, HEARTBEAT, PEERCLOSE,
                                  CONFIRM_DISCONNECT};
const uint16_t kDataTypes[] = {kMsgJoin, kMsgRelay, kMsgRelayUnicast, 10, 16, 17, 18, 19, 42,
                                kMsgPathReport};

std::vector<uint8_t> Datagram(uint32_t id, uint16_t type, uint16_t seq, uint16_t of,
                              const uint8_t* payload, size_t length) {
  std::vector<uint8_t> d(kPeerHeaderBytes + length);
  WritePeerHeader(d.data(), PeerHeader{id, type, seq, of, static_cast<uint16_t>(length)});
  if (length) memcpy(d.data() + kPeerHeaderBytes, payload, length);
  return d;
}

int32_t PickAddress(Reader& in, const Context& c) {
  const uint8_t k = in.U8();
  if (k < 0xC0 && !c.addresses.empty()) return c.addresses[k % c.addresses.size()];
  switch (k & 7) {
    case 0: return 0;
    case 1: return -1;
    case 2: return 255;
    case 3: return 256;
    case 4: return 1 << 30;
    default: return static_cast<int32_t>(in.U32());
  }
}

std::string PickGroup(Reader& in, const Context& c) {
  const uint8_t k = in.U8();
  if (k < 0xE0 && !c.groups.empty()) return c.groups[k % c.groups.size()];
  std::vector<uint8_t> raw = in.Bytes(70);
  return std::string(raw.begin(), raw.end());
}

// A group field as the records hold it: the name, zero-terminated, or raw bytes that may
// fill it without a zero.
void WriteGroupField(const std::string& group, uint8_t* field) {
  memset(field, 0, kGroupField);
  memcpy(field, group.data(), std::min(group.size(), static_cast<size_t>(kGroupField)));
}

std::vector<uint8_t> JoinBytes(Reader& in, const Context& c) {
  std::vector<uint8_t> r(kJoinRecordSize, 0);
  WriteGroupField(PickGroup(in, c), r.data());
  std::vector<uint8_t> player = in.Bytes(kPlayerField);
  if (!player.empty()) memcpy(r.data() + 68, player.data(), player.size());
  const uint8_t fudge = in.U8();
  if (fudge >= 0xF0) r.resize(kJoinRecordSize + (fudge & 7) - 4);  // a size that is wrong
  return r;
}

// A link datagram from the source around game bytes; *fudge, read last, 0xF8 and above
// breaks its magic.
std::vector<uint8_t> LinkBytes(Reader& in, const Context& c, uint8_t* fudge) {
  std::vector<uint8_t> game = in.Bytes(2100);
  std::vector<uint8_t> link(12 + game.size());
  WriteU32(link.data(), LINK_MAGIC);
  WriteU16(link.data() + 4, in.U16());
  WriteU16(link.data() + 6, 0);
  memcpy(link.data() + 8, &c.source_ip, 4);
  if (!game.empty()) memcpy(link.data() + 12, game.data(), game.size());
  *fudge = in.U8();
  if (*fudge >= 0xF8) link[*fudge & 3] ^= 0x01;
  return link;
}

// A game datagram for one member (type 9): its number, then the link datagram.
std::vector<uint8_t> UnicastBytes(Reader& in, const Context& c) {
  std::vector<uint8_t> r(4);
  WriteU32(r.data(), static_cast<uint32_t>(PickAddress(in, c)));
  uint8_t fudge;
  std::vector<uint8_t> link = LinkBytes(in, c, &fudge);
  r.insert(r.end(), link.begin(), link.end());
  return r;
}

// A path report (type 20): mostly one that takes relayed datagrams, with up to one more
// candidate than the format allows, now and then a length that does not fit the count.
std::vector<uint8_t> PathReportBytes(Reader& in, const Context& c) {
  const uint8_t k = in.U8();
  const uint32_t flags = k < 0xE0 ? (k & 0x10 ? 0u : 1u) : in.U32();
  const uint8_t count = static_cast<uint8_t>(k % (kMaxPathCandidates + 2));
  std::vector<uint8_t> r(kPathReportHeaderSize + kPathCandidateSize * count, 0);
  WriteU32(r.data(), flags);
  WriteU32(r.data() + 4, in.U32());
  r[8] = count;
  for (uint8_t i = 0; i < count; ++i) {
    uint8_t* at = r.data() + kPathReportHeaderSize + kPathCandidateSize * i;
    const uint32_t ip = in.U8() < 0x80 ? c.source_ip : in.U32();
    memcpy(at, &ip, 4);
    WriteU16(at + 4, in.U16());
  }
  const uint8_t fudge = in.U8();
  if (fudge >= 0xF0) r.resize(r.size() + (fudge & 7) - 4);  // a size that is wrong
  return r;
}

std::vector<uint8_t> RelayBytes(Reader& in, const Context& c) {
  const std::string group = PickGroup(in, c);
  uint8_t fudge;
  std::vector<uint8_t> link = LinkBytes(in, c, &fudge);
  std::vector<uint8_t> r(kRelayHeaderSize, 0);
  WriteGroupField(group, r.data());
  WriteU32(r.data() + 64, in.U8());
  uint32_t n = static_cast<uint32_t>(link.size());
  if (fudge >= 0xF0 && fudge < 0xF8) n += static_cast<uint32_t>(fudge & 7) - 4;  // n lies
  WriteU32(r.data() + 68, n);
  r.insert(r.end(), link.begin(), link.end());
  return r;
}

// A message of one or more fragments: all of them in order, or some, shuffled, repeated,
// or with a header field that does not fit the others.
void Message(Reader& in, const Context& c, std::vector<std::vector<uint8_t>>* out) {
  const uint8_t kind = in.U8();
  const uint16_t type = kDataTypes[kind % (sizeof kDataTypes / sizeof kDataTypes[0])];
  std::vector<uint8_t> body;
  if (type == kMsgJoin) body = JoinBytes(in, c);
  else if (type == kMsgRelay) body = RelayBytes(in, c);
  else if (type == kMsgRelayUnicast) body = UnicastBytes(in, c);
  else if (type == kMsgPathReport) body = PathReportBytes(in, c);
  else body = in.Bytes(3000);
  const uint32_t id = in.U32();
  const int32_t count = FragmentCount(static_cast<int32_t>(body.size()));
  const uint8_t plan = in.U8();
  std::vector<uint16_t> order;
  for (int32_t i = 1; i <= count; ++i) order.push_back(static_cast<uint16_t>(i));
  if (plan & 1) std::reverse(order.begin(), order.end());
  if ((plan & 2) && order.size() > 1) order.erase(order.begin() + in.U8() % order.size());
  if (plan & 4) order.push_back(order.empty() ? 1 : order[in.U8() % order.size()]);
  for (uint16_t seq : order) {
    const size_t from = static_cast<size_t>(seq - 1) * MAX_FRAGMENT_PAYLOAD;
    const size_t to = std::min(body.size(), from + MAX_FRAGMENT_PAYLOAD);
    std::vector<uint8_t> d = Datagram(id, type, seq, static_cast<uint16_t>(count),
                                      body.data() + from, to > from ? to - from : 0);
    if (plan & 8) {  // one lying field
      const uint8_t which = in.U8();
      const uint16_t value = in.U16();
      WriteU16(d.data() + 6 + 2 * (which % 3), value);  // seq, of or length
    }
    out->push_back(std::move(d));
  }
}

std::vector<uint8_t> Control(Reader& in, const Context& c) {
  const uint16_t type = kControlTypes[in.U8() % 6];
  const uint32_t id = in.U32();
  uint8_t payload[kConnectPayloadBytes] = {};
  size_t length = 4;
  switch (type) {
    case CONNECT: {
      std::vector<uint8_t> host = in.Bytes(70);
      host.push_back(0);
      const uint8_t k = in.U8();
      const uint16_t port = k & 1 ? in.U16() : c.source_port;
      WriteConnectPayload(payload, reinterpret_cast<const char*>(host.data()), port,
                          PickAddress(in, c));
      if (k & 2) memcpy(payload + 2, host.data(), std::min<size_t>(host.size(), 64));
      length = kConnectPayloadBytes;
      break;
    }
    case ACKNOWLEDGE: {
      Sent s{in.U32(), in.U16(), 1};
      const uint8_t k = in.U8();
      if (k < 0xE0 && !c.sent.empty()) s = c.sent[k % c.sent.size()];
      const uint8_t reserved = in.U8();
      uint16_t seq = s.seq;  // as our peers write it
      if (reserved & 1) seq = 0;
      if (reserved & 2) seq = in.U16();  // a peer that leaves anything there
      WriteAckPayload(payload, s.id, reserved & 4 ? in.U16() : s.type, seq);
      length = 8;
      break;
    }
    case CONFIRM_CONNECT:
      WriteU32(payload, static_cast<uint32_t>(PickAddress(in, c)));
      WriteU32(payload + 4, static_cast<uint32_t>(PickAddress(in, c)));
      length = 8;
      break;
    default:
      WriteU32(payload, static_cast<uint32_t>(PickAddress(in, c)));
      break;
  }
  std::vector<uint8_t> d = Datagram(id, type, 1, 1, payload, length);
  const uint8_t fudge = in.U8();
  if (fudge >= 0xF8) d.resize(d.size() - 1);  // one byte short of what the header says
  return d;
}

}  // namespace

std::vector<uint8_t> Reader::Bytes(size_t max) {
  size_t n = U8();
  if (n >= 0xF0) n = (n - 0xF0) << 8 | U8();
  n = std::min(n, max);
  std::vector<uint8_t> out;
  out.reserve(n);
  while (out.size() < n && !empty()) out.push_back(U8());
  return out;
}

void BuildDatagrams(Reader& in, const Context& context, std::vector<std::vector<uint8_t>>* out) {
  switch (in.U8() % 4) {
    case 0:
      out->push_back(Control(in, context));
      break;
    case 1:
    case 2:
      Message(in, context, out);
      break;
    default:
      out->push_back(in.Bytes(1500));  // raw
      break;
  }
}

}  // namespace fuzz
}  // namespace orb
