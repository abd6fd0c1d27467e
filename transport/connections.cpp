// The endpoint list and the connection table: creating endpoints, adding and removing
// connections, and the two indexes kept beside the table (by remote socket address, and
// the heartbeat due-time queue).
#include <string.h>

#include <algorithm>

#include "core.h"

namespace orb {

Endpoint* Transport::Core::CreateEndpoint(uint16_t port) {
  std::unique_ptr<Endpoint> e(new Endpoint());
  int32_t code = io_->Open(port, &e->handle, &e->local_port);
  if (code != 0) {
    SetResult(code);
    return nullptr;
  }
  endpoints_.push_back(std::move(e));
  return endpoints_.back().get();
}

int32_t Transport::Core::Connect(Endpoint* endpoint, const char* host, uint16_t port,
                                 int32_t remote) {
  // A host that does not fit the 64-byte host field is refused with the missing one.
  if (!host || port == 0 || memchr(host, '\0', kHostTextBytes) == nullptr) {
    SetResult(RESULT_INVALID_ARGUMENTS);
    return 0;
  }
  Trace("Connect() %s:%u remote:%d\n", host, static_cast<unsigned>(port), remote);
  bool listed = false;
  for (auto& e : endpoints_) listed = listed || e.get() == endpoint;
  if (!listed) {
    SetResult(RESULT_INVALID_ARGUMENTS);
    return 0;
  }
  if (table_.size() >= options_.max_connections) {
    ++counters_.connects_refused;
    SetResult(RESULT_INVALID_ARGUMENTS);
    return 0;
  }
  uint32_t ip = 0;
  if (!io_->Resolve(host, &ip)) {
    SetResult(RESULT_HOST_LOOKUP);
    return 0;
  }
  ConnectionRef c = AddConnection(endpoint, host, ip, port, remote);
  if (remote != 0) return c->address;
  uint8_t payload[kConnectPayloadBytes];
  WriteConnectPayload(payload, host, endpoint->local_port, c->address);
  Send(c->address, payload, kConnectPayloadBytes, CONNECT);
  return c->address;
}

ConnectionRef Transport::Core::AddConnection(Endpoint* endpoint, const char* host, uint32_t ip,
                                             uint16_t port, int32_t remote) {
  ConnectionRef c = std::make_shared<Connection>(&connection_records_);
  strcpy(c->host, host);  // fits: the callers check
  c->remote_socket.ip = ip;
  c->remote_socket.port = port;
  c->last_heartbeat = options_.clock();
  c->remote_address = remote;
  c->endpoint = endpoint;
  c->address = ++next_address_;
  c->in_table = true;
  table_[c->address] = c;
  IndexAdd(c.get());
  HeartbeatQueueUpdate(c.get());
  return c;
}

Connection* Transport::Core::FindNamed(int32_t named) {
  if (Connection* c = Find(named)) return c;
  auto it = aliases_.find(named);
  return it == aliases_.end() ? nullptr : Find(it->second);
}

bool Transport::Core::RemoveConnection(int32_t address) {
  auto it = table_.find(address);
  if (it == table_.end()) return false;
  Connection* c = it->second.get();
  IndexRemove(c);
  if (c->heartbeat_queued) {
    heartbeat_due_.erase(std::make_pair(c->last_heartbeat, c->address));
    c->heartbeat_queued = false;
  }
  c->in_table = false;
  if (c->alias) aliases_.erase(c->alias);
  table_.erase(it);  // the record lives on while fragments refer to it
  return true;
}

Connection* Transport::Core::LowestAt(const SocketAddress& where) {
  auto it = by_socket_.find(SocketKey(where));
  if (it == by_socket_.end() || it->second.empty()) return nullptr;
  return Find(it->second.front());
}

void Transport::Core::IndexAdd(Connection* c) {
  std::vector<int32_t>& list = by_socket_[SocketKey(c->remote_socket)];
  list.insert(std::upper_bound(list.begin(), list.end(), c->address), c->address);
}

void Transport::Core::IndexRemove(Connection* c) {
  auto it = by_socket_.find(SocketKey(c->remote_socket));
  if (it == by_socket_.end()) return;
  std::vector<int32_t>& list = it->second;
  auto at = std::lower_bound(list.begin(), list.end(), c->address);
  if (at != list.end() && *at == c->address) list.erase(at);
  if (list.empty()) by_socket_.erase(it);
}

// Open connections (remote address above 0) wait in the due-time queue, ordered by their
// last heartbeat stamp, so a pass looks only at those that are due.
void Transport::Core::HeartbeatQueueUpdate(Connection* c) {
  const bool open = c->in_table && c->remote_address > 0;
  if (open == c->heartbeat_queued) return;
  if (open)
    heartbeat_due_.insert(std::make_pair(c->last_heartbeat, c->address));
  else
    heartbeat_due_.erase(std::make_pair(c->last_heartbeat, c->address));
  c->heartbeat_queued = open;
}

}  // namespace orb
