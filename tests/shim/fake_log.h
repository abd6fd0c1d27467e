// A stand-in for the trace log component: records every LogWrite and LogDump call.
#ifndef ORB_TESTS_SHIM_FAKE_LOG_H
#define ORB_TESTS_SHIM_FAKE_LOG_H

#include <string>
#include <vector>

#include "frame/trace.h"

struct FakeLine {
  std::string file;
  int level;
  std::string format;  // the format the component was handed
  std::string text;    // what that format expanded to
};

struct FakeDump {
  int level;
  std::vector<unsigned char> bytes;
  std::string caption;
};

// Binds the fake component for the life of the object and unbinds it afterwards.
class FakeLog {
 public:
  FakeLog();
  ~FakeLog();
  const std::vector<FakeLine>& lines() const;
  const std::vector<FakeDump>& dumps() const;
  std::vector<std::string> texts() const;
  void Clear();
  int init_calls() const;
  int shutdown_calls() const;
};

#endif
