#include "path_report.h"

#include <cstdio>
#include <cstring>

namespace orblaunch {

std::string AddressText(unsigned address) {
  unsigned char b[4];
  std::memcpy(b, &address, 4);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

namespace {

std::string Who(const PeerPath& p) {
  char text[64];
  std::snprintf(text, sizeof text, "member %u at %s:%u", p.member, AddressText(p.address).c_str(),
                p.port);
  return text;
}

PathEvent Event(PathNews news, const PeerPath& p) {
  PathEvent e{news, p, ""};
  char line[256];
  switch (news) {
    case PathNews::kDirect:
      std::snprintf(line, sizeof line, "direct path to %s, round trip %u ms", Who(p).c_str(),
                    p.rtt_ms);
      break;
    case PathNews::kThroughServer:
      std::snprintf(line, sizeof line,
                    "no direct path to %s: the game's datagrams go through the group server",
                    Who(p).c_str());
      break;
    case PathNews::kDirectLost:
      std::snprintf(line, sizeof line,
                    "the direct path to %s stopped working: through the group server until it "
                    "is found again", Who(p).c_str());
      break;
    case PathNews::kPublicAddress:
      line[0] = '\0';
      break;
  }
  e.line = line;
  return e;
}

}  // namespace

std::vector<PathEvent> PathReport::Update(const std::vector<PeerPath>& peers,
                                          const std::string& public_address) {
  std::vector<PathEvent> news;
  if (!public_address.empty() && public_address != public_address_) {
    public_address_ = public_address;
    PathEvent e{PathNews::kPublicAddress, PeerPath(), ""};
    e.line = "the group server sees this machine at " + public_address;
    news.push_back(e);
  }
  std::map<unsigned, PathKind> now;
  for (const PeerPath& p : peers) {
    now[p.member] = p.path;
    auto before = told_.find(p.member);
    const PathKind was = before != told_.end() ? before->second : PathKind::kTrying;
    if (p.path == PathKind::kDirect && was != PathKind::kDirect) {
      told_server_.insert(p.member);  // a later loss is told as such
      news.push_back(Event(PathNews::kDirect, p));
    } else if (p.path == PathKind::kServer && told_server_.count(p.member) == 0) {
      news.push_back(Event(PathNews::kThroughServer, p));
      told_server_.insert(p.member);
    } else if (p.path == PathKind::kTrying && was == PathKind::kDirect) {
      news.push_back(Event(PathNews::kDirectLost, p));
    }
  }
  for (auto it = told_server_.begin(); it != told_server_.end();) {
    it = now.count(*it) ? std::next(it) : told_server_.erase(it);
  }
  told_.swap(now);
  return news;
}

std::vector<std::string> PathReport::Summary(const std::vector<PeerPath>& peers) {
  std::vector<std::string> lines;
  for (const PeerPath& p : peers) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%s: the game sent %u datagrams directly and %u through the server, and "
                  "received %u directly and %u through the server",
                  Who(p).c_str(), p.sent_direct, p.sent_server, p.received_direct,
                  p.received_server);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace orblaunch
