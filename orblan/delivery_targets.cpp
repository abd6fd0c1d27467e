#include "delivery_targets.h"

#include <string.h>

uint32_t DeliveryAddressFor(uint32_t bound_address_net) {
  if (bound_address_net != 0) return bound_address_net;
  const uint8_t loopback[4] = {127, 0, 0, 1};
  uint32_t a;
  memcpy(&a, loopback, 4);
  return a;
}

int DeliveryTargets::Find(uint32_t address_net, uint16_t port) const {
  for (size_t i = 0; i < count_; ++i) {
    if (targets_[i].address_net == address_net && targets_[i].port == port) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool DeliveryTargets::Add(uint32_t address_net, uint16_t port, uint16_t sockets) {
  if (count_ >= kMaxTargets) return false;
  targets_[count_++] = {address_net, port, sockets};
  return true;
}

bool DeliveryTargets::Bound(uint32_t address_net, uint16_t port) {
  if (port == 0) return false;
  const uint32_t to = DeliveryAddressFor(address_net);
  std::lock_guard<std::mutex> hold(lock_);
  const int i = Find(to, port);
  if (i < 0) return Add(to, port, 1);
  if (targets_[i].sockets < UINT16_MAX) ++targets_[i].sockets;
  return true;
}

bool DeliveryTargets::Seen(uint32_t address_net, uint16_t port) {
  if (port == 0) return false;
  const uint32_t to = DeliveryAddressFor(address_net);
  std::lock_guard<std::mutex> hold(lock_);
  return Find(to, port) >= 0 || Add(to, port, 0);
}

void DeliveryTargets::Closed(uint32_t address_net, uint16_t port) {
  const uint32_t to = DeliveryAddressFor(address_net);
  std::lock_guard<std::mutex> hold(lock_);
  const int i = Find(to, port);
  if (i < 0) return;
  if (targets_[i].sockets > 1) {
    --targets_[i].sockets;
    return;
  }
  targets_[i] = targets_[--count_];  // order does not matter
}

int DeliveryTargets::AddressesFor(uint16_t port, uint32_t* out, int max) const {
  if (out == nullptr || max <= 0) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  int n = 0;
  for (size_t i = 0; i < count_ && n < max; ++i) {
    if (targets_[i].port == port) out[n++] = targets_[i].address_net;  // pairs are distinct
  }
  return n;
}

void DeliveryTargets::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  count_ = 0;
}

size_t DeliveryTargets::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return count_;
}
