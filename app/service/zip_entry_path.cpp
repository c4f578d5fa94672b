#include "app/service/zip_entry_path.h"

namespace {

// True when the byte at index i ends a character that is a backslash: a lead
// byte (0x80 and above) takes the following byte with it.
bool EndsWithBackslash(const Text& t) {
  bool last = false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(t[i])) && i + 1 < t.size()) {
      ++i;
      last = false;
    } else {
      last = t[i] == '\\';
    }
  }
  return last;
}

// A segment the platform would resolve to the folder itself or its parent.
bool IsDotSegment(const Text& segment) {
  if (segment.empty()) return false;
  for (char c : segment)
    if (c != '.' && c != ' ') return false;
  return true;
}

}  // namespace

Text FolderWithSeparator(const Text& targetDir) { return EndsWithBackslash(targetDir) ? targetDir : targetDir + "\\"; }

Text ZipEntryOutputPath(const Text& targetDir, const Text& entryName) {
  if (entryName.empty()) return {};
  Text relative;
  relative.reserve(entryName.size());
  Text segment;
  auto segmentOk = [&segment] { return !IsDotSegment(segment); };
  for (size_t i = 0; i < entryName.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(entryName[i]);
    if (IsLeadByte(c)) {
      // Only well-formed GBK pairs: a stray byte could be converted on its own
      // and let the following "/" or "\\" act as a separator.
      if (c < 0x81 || c > 0xFE || i + 1 >= entryName.size()) return {};
      const unsigned char trail = static_cast<unsigned char>(entryName[i + 1]);
      if (trail < 0x40 || trail > 0xFE || trail == 0x7F) return {};
      segment += entryName.substr(i, 2);
      relative += entryName.substr(i, 2);
      ++i;
      continue;
    }
    if (c < 0x20 || c == ':') return {};
    if (c == '/' || c == '\\') {
      if (i == 0 || !segmentOk()) return {};
      segment.clear();
      relative += '\\';
      continue;
    }
    segment += static_cast<char>(c);
    relative += static_cast<char>(c);
  }
  if (!segmentOk()) return {};
  return FolderWithSeparator(targetDir) + relative;
}
