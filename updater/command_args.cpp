#include "updater/command_args.h"

namespace {

bool IsSeparator(unsigned char c) { return c <= 0x20; }

// Position after the program's own name.
size_t SkipProgramName(std::string_view line) {
  if (line.empty()) return 0;
  if (line[0] == '"') {
    size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return line.size();
    size_t pos = close + 1;
    if (pos < line.size() && line[pos] == ' ') ++pos;
    return pos;
  }
  size_t blank = line.find(' ');
  return blank == std::string_view::npos ? line.size() : blank + 1;
}

// Appends the character at pos (one byte, or a lead byte with the byte after
// it) to out and returns the position after it.
size_t TakeCharacter(std::string_view line, size_t pos, Text& out) {
  const bool pair = IsLeadByte(static_cast<unsigned char>(line[pos])) && pos + 1 < line.size();
  const size_t n = pair ? 2 : 1;
  out.append(line.substr(pos, n));
  return pos + n;
}

}  // namespace

TextArray GetCommandArgs(std::string_view line) {
  TextArray args;
  size_t pos = SkipProgramName(line);
  while (pos < line.size()) {
    const unsigned char c = static_cast<unsigned char>(line[pos]);
    if (IsSeparator(c)) {
      ++pos;
      continue;
    }
    Text arg;
    if (c == '"') {
      ++pos;
      while (pos < line.size() && line[pos] != '"') pos = TakeCharacter(line, pos, arg);
      if (pos < line.size()) ++pos;  // the closing quote
    } else {
      while (pos < line.size() && !IsSeparator(static_cast<unsigned char>(line[pos])) && line[pos] != '"')
        pos = TakeCharacter(line, pos, arg);
    }
    args.push_back(std::move(arg));
  }
  return args;
}
