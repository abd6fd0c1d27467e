#include "command_line.h"

namespace orblaunch {

std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') out.append(backslashes * 2 + 1, '\\');
    else out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');  // they stand before the closing quote
  out += '"';
  return out;
}

std::string BuildCommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = QuoteArgument(program);
  for (const std::string& a : args) {
    line += ' ';
    line += QuoteArgument(a);
  }
  return line;
}

std::string DirectoryOf(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return "";
  if (cut == 0) return path.substr(0, 1);                       // "\game.exe"
  if (cut == 2 && path[1] == ':') return path.substr(0, 3);     // "C:\game.exe" keeps "C:\"
  return path.substr(0, cut);
}

}  // namespace orblaunch
