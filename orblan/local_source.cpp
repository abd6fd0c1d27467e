#include "local_source.h"

#include "platform.h"

bool IsThisMachinesAddress(uint32_t address_net) {
  const uint8_t* a = reinterpret_cast<const uint8_t*>(&address_net);
  if (a[0] == 127) return true;
  if (address_net == 0 || address_net == orb::kAddressNone) return false;
  // Asked how it would reach one of its own addresses, the system answers from that address.
  // (Trying to bind to it would not do: Wine binds a UDP socket to an address of no interface.)
  uint32_t local = 0;
  return orb::LocalAddressToward(address_net, &local) && local == address_net;
}

bool LocalSourceCheck::IsLocal(uint32_t address_net) {
  for (size_t i = 0; i < count_; ++i) {
    if (answers_[i].address_net == address_net) return answers_[i].local;
  }
  const bool local = probe_(address_net);
  if (count_ < kRemembered) {
    answers_[count_++] = {address_net, local};
  } else {
    answers_[next_] = {address_net, local};
    next_ = (next_ + 1) % kRemembered;
  }
  return local;
}
