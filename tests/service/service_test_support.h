// Helpers for the tunnel service tests under Wine: temporary folders, small ZIP
// archives made on the spot, and stand-in processes under chosen image names.
#pragma once

#include "common/gbk.h"
#include "common/handles.h"
#include "common/platform.h"
#include "common/text.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

namespace service_test {

// A fresh folder under the temporary folder, removed again at the end.
class TempDir {
 public:
  explicit TempDir(const Text& tag) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static int serial = 0;
    path_ =
        Text(temp) + "corvalen-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    RemoveDirTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempDir() { RemoveDirTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const Text& Path() const { return path_; }
  Text operator/(const Text& name) const { return path_ + "\\" + name; }

 private:
  Text path_;
};

inline bool Exists(const Text& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
inline bool IsFolder(const Text& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Polls predicate every 50 ms until it holds or ms have passed; its last answer.
inline bool WaitUntil(const std::function<bool()>& predicate, DWORD ms = 10000) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (GetTickCount64() < deadline) {
    if (predicate()) return true;
    Sleep(50);
  }
  return predicate();
}

// A ZIP archive written entry by entry: stored or raw-deflated data, any name
// bytes, chosen MS-DOS attributes. Enough to make the archives a test needs,
// hostile ones included.
class ZipBuilder {
 public:
  ZipBuilder& File(const Bytes& name, const Bytes& data, bool deflate = true) { return Add(name, data, deflate, 0x20); }
  ZipBuilder& Folder(const Bytes& name) { return Add(name, Bytes(), false, 0x10); }
  // The data of the last entry with one byte changed after its CRC was taken.
  ZipBuilder& CorruptLast() {
    Entry& e = entries_.back();
    e.stored[e.stored.size() / 2] ^= 0x55;
    return *this;
  }
  Bytes Build() const {
    Bytes out, central;
    for (const Entry& e : entries_) {
      const uint32_t offset = static_cast<uint32_t>(out.size());
      out += Header(0x04034b50, e, false, 0);
      out += e.name;
      out += e.stored;
      central += Header(0x02014b50, e, true, offset);
      central += e.name;
    }
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    out += U32(0x06054b50) + U16(0) + U16(0) + U16(entries_.size()) + U16(entries_.size()) +
           U32(static_cast<uint32_t>(central.size())) + U32(centralOffset) + U16(0);
    return out;
  }

 private:
  struct Entry {
    Bytes name;
    Bytes stored;
    uint32_t crc;
    uint32_t size;
    uint16_t method;
    uint32_t attributes;
  };
  static Bytes U16(size_t v) { return Bytes{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
  static Bytes U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }

  ZipBuilder& Add(const Bytes& name, const Bytes& data, bool pack, uint32_t attributes) {
    Entry e{name, data, 0, static_cast<uint32_t>(data.size()), 0, attributes};
    e.crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    if (pack) {
      z_stream z{};
      deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      Bytes packed(deflateBound(&z, data.size()), '\0');
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
      z.avail_in = static_cast<uInt>(data.size());
      z.next_out = reinterpret_cast<Bytef*>(packed.data());
      z.avail_out = static_cast<uInt>(packed.size());
      ::deflate(&z, Z_FINISH);
      packed.resize(z.total_out);
      deflateEnd(&z);
      e.stored = packed;
      e.method = 8;
    }
    entries_.push_back(e);
    return *this;
  }
  static Bytes Header(uint32_t signature, const Entry& e, bool central, uint32_t offset) {
    Bytes h = U32(signature);
    if (central) h += U16(20);  // made by: MS-DOS
    h += U16(20) + U16(0) + U16(e.method) + U16(0) + U16(0x5758) + U32(e.crc) +
         U32(static_cast<uint32_t>(e.stored.size())) + U32(e.size) + U16(e.name.size()) + U16(0);
    if (central) h += U16(0) + U16(0) + U16(0) + U32(e.attributes) + U32(offset);
    return h;
  }

  std::vector<Entry> entries_;
};

// Image names of running processes, as the system lists them.
inline std::vector<Text> RunningImages() {
  std::vector<Text> names;
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return names;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
    names.push_back(entry.szExeFile);
  return names;
}

// How many running processes have exactly this image name (case as listed).
inline int CountImages(const Text& name) {
  int n = 0;
  for (const Text& image : RunningImages())
    if (image == name) ++n;
  return n;
}

inline Text TestProgramDir() { return GetProgramDir(); }

// Starts a copy of sleeper.exe named image inside folder; with a title, the
// copy opens a hidden top-level window so titled. The process handle, or empty.
inline KernelHandle StartSleeper(const Text& folder, const Text& image, const std::wstring& title = L"") {
  const Text copy = folder + "\\" + image;
  if (!Exists(copy) && !CopyFileA((TestProgramDir() + "\\sleeper.exe").c_str(), copy.c_str(), TRUE)) return {};
  std::wstring line = L"\"" + GbkToWide(copy) + L"\"";
  if (!title.empty()) line += L" \"" + title + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::vector<wchar_t> buffer(line.begin(), line.end());
  buffer.push_back(0);
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return {};
  KernelHandle thread(info.hThread);
  return KernelHandle(info.hProcess);
}

inline bool IsRunning(const KernelHandle& process) { return WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT; }

// Ends whatever a test left running.
template <typename Container>
void EndAll(Container& processes) {
  for (KernelHandle& p : processes)
    if (p && IsRunning(p)) {
      TerminateProcess(p.Get(), 0);
      WaitForSingleObject(p.Get(), 5000);
    }
  processes.clear();
}

}  // namespace service_test
