// Move-only owners of Windows handles: one type per kind, closed on every path.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() = default;
  explicit UniqueHandle(Value v) : value_(v) {}
  ~UniqueHandle() { Close(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Detach()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }

  Value Get() const { return value_; }
  explicit operator bool() const { return !Traits::IsInvalid(value_); }
  Value Detach() { return std::exchange(value_, Traits::Invalid()); }
  void Reset(Value v = Traits::Invalid()) {
    Close();
    value_ = v;
  }
  void Close() {
    if (!Traits::IsInvalid(value_)) Traits::Release(std::exchange(value_, Traits::Invalid()));
  }
  // For out-parameters: releases the current value first.
  Value* Receive() {
    Close();
    return &value_;
  }

 private:
  Value value_ = Traits::Invalid();
};

struct KernelHandleTraits {  // processes, threads, events: null when absent
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsInvalid(Value v) { return v == nullptr || v == INVALID_HANDLE_VALUE; }
  static void Release(Value v) { CloseHandle(v); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

struct FileHandleTraits {  // CreateFile and Toolhelp snapshots: INVALID_HANDLE_VALUE when absent
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsInvalid(Value v) { return v == INVALID_HANDLE_VALUE || v == nullptr; }
  static void Release(Value v) { CloseHandle(v); }
};
using FileHandle = UniqueHandle<FileHandleTraits>;

struct FindHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsInvalid(Value v) { return v == INVALID_HANDLE_VALUE; }
  static void Release(Value v) { FindClose(v); }
};
using FindHandle = UniqueHandle<FindHandleTraits>;
