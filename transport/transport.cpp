// The public face of the peer transport: each member takes the lock and hands over to the
// Core, whose steps live in the files named after them.
#include "transport.h"

#include <stdarg.h>
#include <stdio.h>

#include <new>

#include "core.h"

namespace orb {

void TraceToStdout(const char* line) { printf("%s", line); }

const char* Transport::ResultText(int32_t code) {
  static const char* const kTexts[] = {
      "[ 0] no error",
      "[-1] no error",
      "[-2] unable to load wsock32.dll",
      "[-3] unable to aquire socket",
      "[-4] unable to bind to socket",
      "[-5] unable to set socket to non-blocking",
      "[-6] invalid arguments passed",
      "[-7] unable to look up host name",
      "[-8] the address does not exist",
  };
  if (code > 0 || code < -8) return nullptr;
  return kTexts[-code];
}

Transport::Core::Core(TransportOptions options) : options_(std::move(options)) {
  io_ = options_.io ? options_.io : PlatformDatagramIo();
  if (!options_.clock) options_.clock = MonotonicMs;
  if (!options_.sleep) options_.sleep = SleepMs;
}

Transport::Core::~Core() {
  for (auto& e : endpoints_) io_->Close(e->handle);
}

void Transport::Core::Trace(const char* format, ...) {
  if (!options_.trace) return;
  char line[260];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  options_.trace(line);
}

Connection* Transport::Core::Find(int32_t address) {
  auto it = table_.find(address);
  return it == table_.end() ? nullptr : it->second.get();
}

Transport::Transport(TransportOptions options) : core_(new Core(std::move(options))) {}
Transport::~Transport() {}

// Out of memory is the one exception the standard library throws here; it ends at these
// members as a failure result and never crosses into the caller (a DLL's caller above all).
Endpoint* Transport::CreateEndpoint(uint16_t port) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  try {
    return core_->CreateEndpoint(port);
  } catch (const std::bad_alloc&) {
    core_->SetResult(RESULT_SOCKET);
    return nullptr;
  }
}

int32_t Transport::Connect(Endpoint* endpoint, const char* host, uint16_t port, int32_t remote) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  try {
    return core_->Connect(endpoint, host, port, remote);
  } catch (const std::bad_alloc&) {
    core_->SetResult(RESULT_INVALID_ARGUMENTS);
    return 0;
  }
}

void Transport::SetDataCallback(int32_t address, DataCallback callback) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  if (Connection* c = core_->Find(address)) c->data = callback;
}

void Transport::SetEventCallback(int32_t address, uint32_t slot, EventCallback callback) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  if (slot > 3) return;
  if (Connection* c = core_->Find(address)) c->events[slot] = callback;
}

bool Transport::AddressExists(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->Find(address) != nullptr;
}

bool Transport::MarkDeliversOnce(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  if (c == nullptr) return false;
  c->delivers_once = true;
  c->acks_carry_seq = true;  // a late acknowledgement of a copy must retire no sibling
  return true;
}

bool Transport::RemoveConnection(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->RemoveConnection(address);
}

int32_t Transport::Send(int32_t address, const void* data, int32_t length, uint16_t type) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  try {
    return core_->Send(address, data, length, type);
  } catch (const std::bad_alloc&) {
    core_->SetResult(RESULT_INVALID_ARGUMENTS);
    return -1;
  }
}

int32_t Transport::SendDatagram(int32_t via, const void* data, int32_t length,
                                const SocketAddress& to, uint8_t ttl) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(via);
  if (c == nullptr || c->endpoint == nullptr) {
    core_->SetResult(RESULT_NO_ADDRESS);
    return -1;
  }
  if (data == nullptr || length < 0 || length > kReceiveBufferBytes) {
    core_->SetResult(RESULT_INVALID_ARGUMENTS);
    return -1;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (ttl != 0) {
    core_->io_->SendToWithTtl(c->endpoint->handle, bytes, length, to, ttl);
  } else {
    core_->io_->SendTo(c->endpoint->handle, bytes, length, to);
  }
  ++core_->counters_.datagrams_sent;
  return 0;
}

int32_t Transport::Pump(uint32_t timeout_ms) {
  const uint64_t entered = core_->options_.clock();
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> hold(core_->lock_);
      if (core_->in_pass_) return 0;  // called from a callback
      try {
        core_->Pass();
      } catch (...) {  // out of memory mid-pass, or a callback that threw: the pass ends
        core_->AbandonPass();
      }
    }
    const uint64_t elapsed = core_->options_.clock() - entered;
    if (timeout_ms != 0) core_->options_.sleep(1);
    if (timeout_ms == kPumpForever) continue;
    if (elapsed < timeout_ms) continue;
    return 0;
  }
}

uint64_t Transport::MsToNextDue() {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  const uint64_t due = core_->NextDue();
  if (due == UINT64_MAX) return due;
  const uint64_t now = core_->options_.clock();
  return due > now ? due - now : 0;
}

int32_t Transport::LastResult() const { return core_->LastResult(); }

bool Transport::RemoteSocketAddress(int32_t address, SocketAddress* out) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  if (!c) return false;
  if (out) *out = c->remote_socket;
  return true;
}

int32_t Transport::RemoteAddress(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  return c ? c->remote_address : 0;
}

bool Transport::IsProven(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  return c && c->proven;
}

int32_t Transport::RoundTripMs(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  if (c == nullptr || !c->rtt.Measured()) return -1;
  return static_cast<int32_t>(c->rtt.SmoothedMs());
}

uint64_t Transport::BytesReceived(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  return c ? c->bytes_received : 0;
}

uint64_t Transport::BytesSent(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  return c ? c->bytes_sent : 0;
}

size_t Transport::PendingFragments(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  return c ? c->pending_fragments : 0;
}

size_t Transport::PendingBytes(int32_t address) {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  Connection* c = core_->Find(address);
  return c ? c->pending_bytes : 0;
}

size_t Transport::ConnectionCount() {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->table_.size();
}

size_t Transport::SendQueueLength() {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->send_queue_.size();
}

size_t Transport::UnacknowledgedCount() {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->unacked_.size();
}

size_t Transport::IncompleteBytes() {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->incomplete_total_;
}

uint32_t Transport::MessageIdCounter() {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->message_id_;
}

size_t Transport::ConnectionRecords() {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->connection_records_;
}

TransportCounters Transport::Counters() {
  std::lock_guard<std::recursive_mutex> hold(core_->lock_);
  return core_->counters_;
}

}  // namespace orb
