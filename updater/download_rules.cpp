#include "updater/download_rules.h"

int ProgressPosition(int32_t announced, int32_t received) {
  if (announced == 0) return 0;
  const double position = static_cast<double>(received) * kProgressScale / static_cast<double>(announced);
  if (position <= 0) return 0;
  if (position >= kProgressScale) return kProgressScale;
  return static_cast<int>(position);
}

bool IsSuccessStatus(int status) { return status >= 200 && status <= 299; }

bool IsPlainEncoding(std::string_view contentEncoding) {
  const Text value = TrimSpaces(contentEncoding);
  return value.empty() || CompareText(ToLowerAscii(value), "identity") == 0;
}

bool StartsAsExecutable(std::string_view firstBytes) { return firstBytes.substr(0, 2) == "MZ"; }
