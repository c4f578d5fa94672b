// A request body gathered before it is sent (a chunked body: the envelope
// states the length first). The first megabyte stays in memory, the rest
// goes to a temporary file that deletes itself. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/handles.h"

namespace tunnel {

class BodySpool {
 public:
  static constexpr size_t kMemoryLimit = 1 << 20;
  static constexpr uint64_t kMaxSize = 1ull << 30;  // 1 GB

  // False when the body grows beyond kMaxSize or the file cannot be written.
  bool Append(const char* p, size_t n);
  uint64_t size() const { return size_; }
  bool InMemory() const { return !file_; }
  const std::string& memory() const { return memory_; }
  // Reading back the file part from its start.
  bool Rewind();
  // Up to cap bytes; 0 at the end or on an error (the caller checks the count).
  size_t Read(char* p, size_t cap);

 private:
  std::string memory_;
  FileHandle file_;
  uint64_t size_ = 0;
};

}  // namespace tunnel
