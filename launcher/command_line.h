// Builds the command line that CreateProcess hands to the game, quoted so that the game's
// C runtime splits it back into exactly the arguments orblaunch was given.
#ifndef ORBLAUNCH_COMMAND_LINE_H
#define ORBLAUNCH_COMMAND_LINE_H

#include <string>
#include <vector>

namespace orblaunch {

// One argument quoted by the Microsoft C runtime's rules: left bare when it holds no space,
// tab, newline or quote; otherwise in quotes, with each quote and the backslashes before a
// quote (or before the closing quote) doubled.
std::string QuoteArgument(const std::string& arg);

// The program followed by its arguments, each quoted, separated by single spaces.
std::string BuildCommandLine(const std::string& program, const std::vector<std::string>& args);

// The directory part of a Windows path ("C:\Games\Quest\q.exe" gives "C:\Games\Quest"),
// "" when the path has none. Both '\' and '/' separate.
std::string DirectoryOf(const std::string& path);

}  // namespace orblaunch

#endif
