#include "admission.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace orb {
namespace server {

AdmissionVerdict Admission::OnConnect(uint32_t ip, int32_t remote, bool replacing) const {
  if (remote <= 0) return AdmissionVerdict::kRefuseAddress;
  auto it = by_ip_.find(ip);
  const Counts none;
  const Counts& c = it == by_ip_.end() ? none : it->second;
  if (!replacing && c.members >= limits_.max_per_ip) return AdmissionVerdict::kRefusePerIp;
  if (unproven_ < limits_.max_unproven && c.unproven < limits_.max_unproven_per_ip)
    return AdmissionVerdict::kAdmit;
  return AdmissionVerdict::kChallenge;
}

bool Admission::PerIpFull(uint32_t ip) const {
  auto it = by_ip_.find(ip);
  return it != by_ip_.end() && it->second.members >= limits_.max_per_ip;
}

bool Admission::MemberFits(uint32_t ip, bool replacing) const {
  return replacing || (members_ < limits_.max_members && !PerIpFull(ip));
}

void Admission::Add(uint32_t ip) {
  ++by_ip_[ip].unproven;
  ++unproven_;
}

void Admission::Prove(uint32_t ip) {
  Counts& c = by_ip_[ip];
  if (c.unproven > 0) {
    --c.unproven;
    --unproven_;
  }
  ++c.members;
  ++members_;
}

void Admission::Remove(uint32_t ip, bool proven) {
  auto it = by_ip_.find(ip);
  if (it == by_ip_.end()) return;
  Counts& c = it->second;
  if (proven && c.members > 0) {
    --c.members;
    --members_;
  } else if (!proven && c.unproven > 0) {
    --c.unproven;
    --unproven_;
  }
  if (c.members == 0 && c.unproven == 0) by_ip_.erase(it);
}

ChallengeKey RandomChallengeKey() {
  ChallengeKey key;
  uint64_t words[2] = {0, 0};
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && read(fd, words, sizeof words) == static_cast<ssize_t>(sizeof words);
  if (fd >= 0) close(fd);
  if (!ok) {  // no random source: still unpredictable to a remote forger in practice
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    words[0] = static_cast<uint64_t>(t.tv_nsec) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(getpid());
    words[1] = static_cast<uint64_t>(t.tv_sec) * 0xC2B2AE3D27D4EB4Full ^ reinterpret_cast<uintptr_t>(&key);
  }
  key.k0 = words[0];
  key.k1 = words[1];
  return key;
}

}  // namespace server
}  // namespace orb
