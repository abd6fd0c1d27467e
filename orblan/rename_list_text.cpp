#include "rename_list_text.h"

#include <string.h>

namespace {

const char kSection[] = "[rename]";

bool StartsWithSection(const char* line) {
  for (size_t i = 0; i < sizeof kSection - 1; ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kSection[i]) return false;
  }
  return true;
}

bool EndsLine(const char* piece) {
  const size_t n = strlen(piece);
  return n > 0 && piece[n - 1] == '\n';
}

// Reads the rest of a line whose first piece did not end it.
void SkipRestOfLine(FILE* in, char* buf, int size) {
  while (fgets(buf, size, in) != nullptr && !EndsLine(buf)) {
  }
}

}  // namespace

bool WriteRenameList(FILE* old_list, FILE* out, const char* path, const char* new_path) {
  if (out == nullptr || path == nullptr) return false;
  char piece[256];  // a longer line arrives in pieces of up to 255 characters
  bool found = false;
  bool at_line_start = true;
  if (old_list != nullptr) {
    while (fgets(piece, sizeof piece, old_list) != nullptr) {
      const bool starts_line = at_line_start;
      at_line_start = EndsLine(piece);
      if (starts_line && StartsWithSection(piece)) {
        if (!at_line_start) SkipRestOfLine(old_list, piece, sizeof piece);
        at_line_start = true;
        found = true;
        break;
      }
      fputs(piece, out);
    }
  }
  // A last line without its line feed would otherwise run into the section header.
  if (!at_line_start) fputc('\n', out);
  fputs("[rename]\n", out);
  if (new_path != nullptr) {
    fprintf(out, "%s=%s\n", new_path, path);
  } else {
    fprintf(out, "NUL=%s\n", path);
  }
  if (found) {
    while (fgets(piece, sizeof piece, old_list) != nullptr) fputs(piece, out);
  }
  if (old_list != nullptr && ferror(old_list)) return false;
  return fflush(out) == 0 && !ferror(out);
}
