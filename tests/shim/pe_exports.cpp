#include "pe_exports.h"

#include <string.h>

namespace {

struct Reader {
  const std::vector<uint8_t>& f;
  bool ok = true;
  uint32_t U32(size_t off) {
    if (off + 4 > f.size()) return ok = false, 0;
    uint32_t v;
    memcpy(&v, &f[off], 4);
    return v;
  }
  uint16_t U16(size_t off) {
    if (off + 2 > f.size()) return ok = false, 0;
    uint16_t v;
    memcpy(&v, &f[off], 2);
    return v;
  }
  std::string Text(size_t off) {
    std::string s;
    while (off < f.size() && f[off]) s += static_cast<char>(f[off++]);
    if (off >= f.size()) ok = false;
    return s;
  }
};

struct Section {
  uint32_t va, size, raw;
};

}  // namespace

bool ReadPeExports(const std::vector<uint8_t>& file, PeExports* out, std::string* error) {
  Reader r{file};
  uint32_t pe = r.U32(0x3C);
  if (!r.ok || r.U32(pe) != 0x00004550) return *error = "no PE signature", false;
  uint16_t sections = r.U16(pe + 6);
  uint16_t optional_size = r.U16(pe + 20);
  size_t optional = pe + 24;
  // The data directories follow the optional header's fixed part: 96 bytes in a 32-bit
  // image (PE32), 112 in a 64-bit one (PE32+), whose image base and stack sizes are wider.
  const uint16_t magic = r.U16(optional);
  if (magic != 0x10B && magic != 0x20B) return *error = "not a PE32 or PE32+ image", false;
  uint32_t export_rva = r.U32(optional + (magic == 0x10B ? 96 : 112));  // data directory 0
  std::vector<Section> table;
  size_t sh = optional + optional_size;
  for (uint16_t i = 0; i < sections; ++i, sh += 40)
    table.push_back({r.U32(sh + 12), r.U32(sh + 16), r.U32(sh + 20)});
  if (!r.ok || export_rva == 0) return *error = "no export directory", false;
  auto at = [&](uint32_t rva) -> size_t {
    for (const Section& s : table)
      if (rva >= s.va && rva < s.va + s.size) return s.raw + (rva - s.va);
    r.ok = false;
    return 0;
  };
  size_t dir = at(export_rva);
  out->module_name = r.Text(at(r.U32(dir + 12)));
  out->ordinal_base = r.U32(dir + 16);
  out->function_count = r.U32(dir + 20);
  uint32_t name_count = r.U32(dir + 24);
  size_t functions = at(r.U32(dir + 28));
  size_t names = name_count ? at(r.U32(dir + 32)) : 0;
  size_t ordinals = name_count ? at(r.U32(dir + 36)) : 0;
  for (uint32_t i = 0; r.ok && i < out->function_count; ++i) {
    uint32_t rva = r.U32(functions + 4 * i);
    if (rva) out->functions[out->ordinal_base + i] = rva;
  }
  for (uint32_t i = 0; r.ok && i < name_count; ++i) {
    std::string name = r.Text(at(r.U32(names + 4 * i)));
    out->names[name] = out->ordinal_base + r.U16(ordinals + 2 * i);
  }
  if (!r.ok) return *error = "export directory runs past the file", false;
  return true;
}
