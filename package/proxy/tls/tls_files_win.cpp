#include "package/proxy/tls/tls_files_win.h"

#include <windows.h>
#include <shlobj.h>

#include <climits>
#include <vector>

#include "common/handles.h"

namespace tunnel {
namespace {

std::string LastErrorText(const char* what) { return std::string(what) + " (error " + std::to_string(GetLastError()) + ")"; }

// The current user's SID, copied out of the process token.
bool CurrentUserSid(std::vector<BYTE>& sid) {
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<BYTE> info(size);
  if (!GetTokenInformation(token.Get(), TokenUser, info.data(), size, &size)) return false;
  PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
  DWORD length = GetLengthSid(user);
  sid.resize(length);
  return CopySid(length, sid.data(), user) != FALSE;
}

// A DACL with one entry: full access for `sid`.
bool OwnerOnlyAcl(std::vector<BYTE>& sid, std::vector<BYTE>& acl) {
  DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid.data());
  acl.assign(size, 0);
  PACL p = reinterpret_cast<PACL>(acl.data());
  return InitializeAcl(p, size, ACL_REVISION) && AddAccessAllowedAce(p, ACL_REVISION, FILE_ALL_ACCESS, sid.data());
}

}  // namespace

std::string DefaultCaFolder() {
  char path[MAX_PATH];
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  std::string folder = std::string(path) + "\\Corvalen";
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
  return folder;
}

bool WriteFileAtomically(const std::string& path, const std::string& data, bool ownerOnly, std::string& error) {
  std::vector<BYTE> sid, acl;
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
  if (ownerOnly) {
    if (!CurrentUserSid(sid) || !OwnerOnlyAcl(sid, acl) ||
        !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE) ||
        !SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      error = LastErrorText("building an owner-only DACL");
      return false;
    }
    sa.lpSecurityDescriptor = &sd;
  }
  // A fresh temporary name: the security descriptor applies only to a file
  // that CreateFile really creates. The file keeps it when it is renamed, so
  // the key is never readable by others, not even for a moment.
  std::string temp = path + ".tmp" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount64());
  {
    FileHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      error = LastErrorText(("creating " + temp).c_str());
      return false;
    }
    DWORD written = 0;
    if (data.size() > UINT_MAX || !WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
        written != data.size() || !FlushFileBuffers(file.Get())) {
      error = LastErrorText(("writing " + temp).c_str());
      file.Close();
      DeleteFileA(temp.c_str());
      return false;
    }
  }
  if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastErrorText(("replacing " + path).c_str());
    DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

bool ReadSmallFile(const std::string& path, std::string& data, size_t limit) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > limit)
    return false;
  data.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!data.empty() && (!ReadFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr) ||
                        got != data.size()))
    return false;
  return true;
}

std::unique_ptr<CertAuthority> LoadOrCreateCa(const std::string& folder, bool& created, std::string& error) {
  created = false;
  if (folder.empty()) {
    error = "no folder for the CA";
    return nullptr;
  }
  CreateDirectoryA(folder.c_str(), nullptr);  // an existing folder is fine
  std::string keyPath = folder + "\\ca.key", certPath = folder + "\\ca.crt";
  PemPair pair;
  if (ReadSmallFile(keyPath, pair.keyPem) && ReadSmallFile(certPath, pair.certPem)) {
    std::string why;
    if (auto ca = CertAuthority::Load(pair, why)) return ca;
  }
  if (!GenerateCa(std::time(nullptr), pair, error)) return nullptr;
  // The key first: a certificate on disk without its key would be useless.
  if (!WriteFileAtomically(keyPath, pair.keyPem, true, error)) return nullptr;
  if (!WriteFileAtomically(certPath, pair.certPem, false, error)) return nullptr;
  auto ca = CertAuthority::Load(pair, error);
  created = ca != nullptr;
  return ca;
}

bool FolderCertFiles::Read(const std::string& name, std::string& data) {
  return ReadSmallFile(folder_ + "\\" + name, data, 64 * 1024);
}

bool FolderCertFiles::Write(const std::string& name, const std::string& data) {
  std::string ignored;
  CreateDirectoryA(folder_.c_str(), nullptr);
  return WriteFileAtomically(folder_ + "\\" + name, data, true, ignored);
}

long SocketTransport::Receive(char* p, size_t cap) {
  int n = recv(s_, p, static_cast<int>(cap > INT_MAX ? INT_MAX : cap), 0);
  if (n == SOCKET_ERROR) return -1;
  return n;
}

bool SocketTransport::SendAll(const char* p, size_t n) {
  while (n > 0) {
    int sent = send(s_, p, static_cast<int>(n > INT_MAX ? INT_MAX : n), 0);
    if (sent == SOCKET_ERROR || sent <= 0) return false;
    p += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace tunnel
