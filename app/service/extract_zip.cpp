#include "app/service/extract_zip.h"

#include "app/service/zip_entry_path.h"
#include "common/handles.h"

#include <windows.h>

#include <memory>
#include <vector>

// minizip's headers declare C linkage themselves; unzip.h brings zlib.h and
// ioapi.h, which iowin32.h needs first.
#include "unzip.h"
#include "iowin32.h"

namespace {

struct UnzTraits {
  using Value = unzFile;
  static Value Invalid() { return nullptr; }
  static bool IsInvalid(Value v) { return v == nullptr; }
  static void Release(Value v) { unzClose(v); }
};
using UnzArchive = UniqueHandle<UnzTraits>;

// Closes the entry opened with unzOpenCurrentFile; Close() reports its CRC check.
class OpenEntry {
 public:
  explicit OpenEntry(unzFile archive) : archive_(archive), open_(unzOpenCurrentFile(archive) == UNZ_OK) {}
  ~OpenEntry() { Close(); }
  OpenEntry(const OpenEntry&) = delete;
  OpenEntry& operator=(const OpenEntry&) = delete;
  bool IsOpen() const { return open_; }
  bool Close() {
    if (!open_) return true;
    open_ = false;
    return unzCloseCurrentFile(archive_) == UNZ_OK;
  }

 private:
  unzFile archive_;
  bool open_;
};

bool IsFolder(const Text& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const Text& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The file begins with "PK" 03 04 and its first local header names something.
bool StartsWithLocalHeader(const Text& zipPath) {
  FileHandle file(CreateFileA(zipPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  unsigned char header[30];
  DWORD got = 0;
  if (!ReadFile(file.Get(), header, sizeof(header), &got, nullptr) || got != sizeof(header)) return false;
  if (header[0] != 'P' || header[1] != 'K' || header[2] != 3 || header[3] != 4) return false;
  return (header[26] | (header[27] << 8)) != 0;
}

struct EntryInfo {
  Text name;
  unsigned long externalAttributes = 0;
};

// The current entry's name and attributes; false when minizip cannot read them.
bool CurrentEntry(unzFile archive, EntryInfo& entry) {
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  std::vector<char> name(info.size_filename + 1);
  if (unzGetCurrentFileInfo64(archive, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) !=
      UNZ_OK)
    return false;
  entry.name.assign(name.data(), info.size_filename);
  entry.externalAttributes = info.external_fa;
  return true;
}

// Every entry name stays inside targetDir.
bool AllNamesSafe(unzFile archive, const Text& targetDir) {
  int status = unzGoToFirstFile(archive);
  while (status == UNZ_OK) {
    EntryInfo entry;
    if (!CurrentEntry(archive, entry)) return false;
    if (ZipEntryOutputPath(targetDir, entry.name).empty()) return false;
    status = unzGoToNextFile(archive);
  }
  return status == UNZ_END_OF_LIST_OF_FILE;
}

// Writes the current entry's content to path. A file that could not be written
// completely is removed again.
bool WriteCurrentEntry(unzFile archive, const Text& path) {
  DWORD existing = GetFileAttributesA(path.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesA(path.c_str(), existing & ~FILE_ATTRIBUTE_READONLY);

  OpenEntry entry(archive);
  if (!entry.IsOpen()) return false;
  bool written = false;
  {
    FileHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    constexpr unsigned kChunk = 256 * 1024;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
      int got = unzReadCurrentFile(archive, buffer.get(), kChunk);
      if (got < 0) break;
      if (got == 0) {
        written = entry.Close();  // false on a CRC mismatch
        break;
      }
      DWORD wrote = 0;
      if (!WriteFile(file.Get(), buffer.get(), static_cast<DWORD>(got), &wrote, nullptr) ||
          wrote != static_cast<DWORD>(got))
        break;
    }
  }
  if (!written) {
    DeleteFileA(path.c_str());
    return false;
  }
  return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

}  // namespace

bool CreateDirTree(const Text& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  // Every prefix that ends before a separator, then the whole path; a prefix
  // that exists already (or is a drive) just fails to be created again.
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c)) {
      ++i;
      continue;
    }
    if (c == '\\' && i > 0) CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
  return IsFolder(path);
}

int ExtractZip(const Text& zipPath, const Text& targetDir) {
  if (zipPath.empty() || targetDir.empty() || !IsFile(zipPath)) return -1;
  if (!CreateDirTree(targetDir)) return 0;
  if (!StartsWithLocalHeader(zipPath)) return 0;

  zlib_filefunc64_def io;
  fill_win32_filefunc64A(&io);
  UnzArchive archive(unzOpen2_64(zipPath.c_str(), &io));
  if (!archive) return 0;
  if (!AllNamesSafe(archive.Get(), targetDir)) return 0;

  int status = unzGoToFirstFile(archive.Get());
  while (status == UNZ_OK) {
    EntryInfo entry;
    if (!CurrentEntry(archive.Get(), entry)) return 0;
    const Text path = ZipEntryOutputPath(targetDir, entry.name);
    if (path.empty()) return 0;
    if (entry.externalAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!CreateDirTree(path)) return 0;
    } else if (!WriteCurrentEntry(archive.Get(), path)) {
      return 0;
    }
    status = unzGoToNextFile(archive.Get());
  }
  return status == UNZ_END_OF_LIST_OF_FILE ? 1 : 0;
}
