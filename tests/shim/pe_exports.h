// Reads the export directory of a 32-bit PE file from its bytes, for the export-table test.
#ifndef ORB_TESTS_SHIM_PE_EXPORTS_H
#define ORB_TESTS_SHIM_PE_EXPORTS_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

struct PeExports {
  std::string module_name;
  uint32_t ordinal_base = 0;
  uint32_t function_count = 0;            // slots in the address table
  std::map<uint32_t, uint32_t> functions; // ordinal -> RVA, non-zero slots only
  std::map<std::string, uint32_t> names;  // name -> ordinal
};

// False with a reason in *error when the bytes are not a readable PE export table.
bool ReadPeExports(const std::vector<uint8_t>& file, PeExports* out, std::string* error);

#endif
