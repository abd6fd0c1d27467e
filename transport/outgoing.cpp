// Send: cutting a message into fragments and queuing them for the next pump pass.
#include <string.h>

#include "core.h"

namespace orb {

int32_t Transport::Core::Send(int32_t address, const void* data, int32_t length, uint16_t type) {
  auto it = table_.find(address);
  if (it == table_.end()) {
    SetResult(RESULT_NO_ADDRESS);
    return -1;
  }
  const uint32_t id = ++message_id_;  // used up before the length is looked at
  if (length < 0) return 0;
  const int32_t count = FragmentCount(length);
  if ((length > 0 && !data) || count > 0xFFFF) {  // of is 16 bits wide
    SetResult(RESULT_INVALID_ARGUMENTS);
    return -1;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  const uint64_t now = options_.clock();
  auto make = [&](int32_t i) {
    const int32_t offset = (i - 1) * MAX_FRAGMENT_PAYLOAD;
    const int32_t end = i * MAX_FRAGMENT_PAYLOAD < length ? i * MAX_FRAGMENT_PAYLOAD : length;
    std::unique_ptr<Outgoing> f(new Outgoing());
    f->connection = it->second;
    f->address = address;
    f->header.id = id;
    f->header.type = type;
    f->header.seq = static_cast<uint16_t>(i);
    f->header.of = static_cast<uint16_t>(count);
    f->header.length = static_cast<uint16_t>(end - offset);
    f->wire.Resize(kPeerHeaderBytes + f->header.length);
    WritePeerHeader(f->wire.data(), f->header);
    if (f->header.length) memcpy(f->wire.data() + kPeerHeaderBytes, bytes + offset, f->header.length);
    f->created = f->last_sent = now;
    f->CountPending();
    return f;
  };
  if (count == 1) {  // most messages: nothing to build aside
    send_queue_.push_back(make(1));
    return 0;
  }
  // Built aside and queued together, so a failed allocation queues no part of the message.
  std::vector<std::unique_ptr<Outgoing>> fragments;
  fragments.reserve(static_cast<size_t>(count));
  for (int32_t i = 1; i <= count; ++i) fragments.push_back(make(i));
  for (auto& f : fragments) send_queue_.push_back(std::move(f));
  return 0;
}

void Transport::Core::QueueAck(int32_t address, const PeerHeader& h) {
  uint8_t payload[8];
  WriteAckPayload(payload, h.id, h.type, h.seq);
  Send(address, payload, sizeof payload, ACKNOWLEDGE);
}

}  // namespace orb
