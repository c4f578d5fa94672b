// Where the CA and the site certificates live on Windows (under Wine): the CA
// is made once and then reused, its key file is the user's alone, broken
// files are replaced, and site certificates round-trip through their folder.
#include "package/proxy/tls/tls_files_win.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <vector>

namespace tunnel {
namespace {

class TlsFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "corvalen-tls-" + std::to_string(GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
  }
  void TearDown() override {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir_ + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileA((dir_ + "\\" + fd.cFileName).c_str());
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Path(const char* name) const { return dir_ + "\\" + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir_ + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      std::string n = fd.cFileName;
      if (n != "." && n != "..") names.push_back(n);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
  }
  std::string dir_;
};

std::vector<BYTE> CurrentUser() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> info(size);
  GetTokenInformation(token, TokenUser, info.data(), size, &size);
  CloseHandle(token);
  PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
  return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// The file's DACL, read back from the system: protected, and one entry that
// allows the current user. Wine keeps no DACLs on files (it makes one up from
// the Unix mode, which tls_connect_test.py checks instead), so there this
// check is skipped.
void ExpectOwnerOnly(const std::string& path) {
  if (UnderWine()) return;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &dacl, nullptr, &sd),
            static_cast<DWORD>(ERROR_SUCCESS))
      << path;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << path;
  ASSERT_NE(dacl, nullptr) << path << ": a null DACL lets everyone in";
  ASSERT_EQ(dacl->AceCount, 1) << path;
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  std::vector<BYTE> me = CurrentUser();
  EXPECT_TRUE(EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), me.data())) << path;
  LocalFree(sd);
}

TEST_F(TlsFilesTest, CaIsMadeOnceThenReused) {
  bool created = false;
  std::string error;
  auto first = LoadOrCreateCa(dir_, created, error);
  ASSERT_TRUE(first) << error;
  EXPECT_TRUE(created);
  std::string cert, key;
  ASSERT_TRUE(ReadSmallFile(Path("ca.crt"), cert));
  ASSERT_TRUE(ReadSmallFile(Path("ca.key"), key));
  EXPECT_EQ(cert, first->CertPem());
  EXPECT_NE(key.find("PRIVATE KEY"), std::string::npos);
  ExpectOwnerOnly(Path("ca.key"));
  if (UnderWine()) std::printf("Wine keeps no file DACLs: the DACL read-back is left to real Windows\n");
  // No temporary files left beside them.
  std::vector<std::string> names = Names();
  EXPECT_EQ(names.size(), 2u);

  auto second = LoadOrCreateCa(dir_, created, error);
  ASSERT_TRUE(second) << error;
  EXPECT_FALSE(created);
  EXPECT_EQ(second->CertPem(), first->CertPem());
  EXPECT_EQ(second->Fingerprint(), first->Fingerprint());
  std::string keyAgain;
  ASSERT_TRUE(ReadSmallFile(Path("ca.key"), keyAgain));
  EXPECT_EQ(keyAgain, key);
}

TEST_F(TlsFilesTest, BrokenOrMismatchedCaFilesAreReplaced) {
  bool created = false;
  std::string error;
  auto original = LoadOrCreateCa(dir_, created, error);
  ASSERT_TRUE(original);
  std::string originalKey;
  ASSERT_TRUE(ReadSmallFile(Path("ca.key"), originalKey));
  PemPair other;
  ASSERT_TRUE(GenerateCa(std::time(nullptr), other, error));
  struct Case {
    const char* what;
    const char* file;
    std::string content;
  } cases[] = {
      {"certificate cut short", "ca.crt", original->CertPem().substr(0, 100)},
      {"certificate of another CA", "ca.crt", other.certPem},
      {"key cut short", "ca.key", originalKey.substr(0, 60)},
  };
  std::string previous = original->CertPem();
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteFileAtomically(Path(c.file), c.content, false, error));
    auto ca = LoadOrCreateCa(dir_, created, error);
    ASSERT_TRUE(ca) << c.what << ": " << error;
    EXPECT_TRUE(created) << c.what;
    EXPECT_NE(ca->CertPem(), previous) << c.what;
    std::string onDisk;
    ASSERT_TRUE(ReadSmallFile(Path("ca.crt"), onDisk));
    EXPECT_EQ(onDisk, ca->CertPem()) << c.what;
    ExpectOwnerOnly(Path("ca.key"));
    previous = ca->CertPem();
  }
}

TEST_F(TlsFilesTest, SiteCertificatesRoundTripThroughTheirFolder) {
  bool created = false;
  std::string error;
  auto ca = LoadOrCreateCa(dir_, created, error);
  ASSERT_TRUE(ca);
  std::string certs = dir_ + "\\certs";
  FolderCertFiles files(certs);
  SiteCertCache cache(*ca, &files);
  auto cert = cache.Get("files.test", error);
  ASSERT_TRUE(cert) << error;
  std::string onDisk;
  ASSERT_TRUE(files.Read("site_files.test.pem", onDisk));
  EXPECT_EQ(onDisk, cert->FilePem());
  ExpectOwnerOnly(certs + "\\site_files.test.pem");

  SiteCertCache nextRun(*ca, &files);
  auto again = nextRun.Get("FILES.test", error);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->CertPem(), cert->CertPem());
  DeleteFileA((certs + "\\site_files.test.pem").c_str());
  RemoveDirectoryA(certs.c_str());
}

TEST_F(TlsFilesTest, AtomicWriteReplacesAndReportsFailure) {
  std::string error, data;
  ASSERT_TRUE(WriteFileAtomically(Path("f.txt"), "first", false, error)) << error;
  ASSERT_TRUE(WriteFileAtomically(Path("f.txt"), "second", true, error)) << error;
  ASSERT_TRUE(ReadSmallFile(Path("f.txt"), data));
  EXPECT_EQ(data, "second");
  EXPECT_FALSE(WriteFileAtomically(Path("no-such-folder\\f.txt"), "x", true, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ReadSmallFile(Path("f.txt"), data, 3));  // over the limit
}

}  // namespace
}  // namespace tunnel
