#include "package/proxy/body_spool_win.h"

namespace tunnel {

bool BodySpool::Append(const char* p, size_t n) {
  if (size_ + n > kMaxSize) return false;
  if (!file_ && memory_.size() + n <= kMemoryLimit) {
    memory_.append(p, n);
    size_ += n;
    return true;
  }
  if (!file_) {
    char dir[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    DWORD len = GetTempPathA(sizeof dir, dir);
    if (len == 0 || len > MAX_PATH || GetTempFileNameA(dir, "cvl", 0, name) == 0) return false;
    file_.Reset(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file_) {
      DeleteFileA(name);
      return false;
    }
    // Everything goes to the file from here on, the memory part first.
    std::string head = std::move(memory_);
    memory_.clear();
    size_ = 0;
    if (!head.empty() && !Append(head.data(), head.size())) return false;
  }
  while (n > 0) {
    DWORD written = 0;
    DWORD take = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    if (!WriteFile(file_.Get(), p, take, &written, nullptr) || written == 0) return false;
    p += written;
    n -= written;
    size_ += written;
  }
  return true;
}

bool BodySpool::Rewind() {
  if (!file_) return true;
  LARGE_INTEGER zero{};
  return SetFilePointerEx(file_.Get(), zero, nullptr, FILE_BEGIN) != 0;
}

size_t BodySpool::Read(char* p, size_t cap) {
  if (!file_) return 0;
  DWORD got = 0;
  DWORD take = cap > (1u << 30) ? (1u << 30) : static_cast<DWORD>(cap);
  if (!ReadFile(file_.Get(), p, take, &got, nullptr)) return 0;
  return got;
}

}  // namespace tunnel
