// "使用" and the window's close on a scripted view, with the real package that
// the build embeds, unpacked into a temporary ProgramDir under Wine.
#include "app/service/package_archive.h"
#include "app/service/tunnel_service.h"
#include "tests/service/service_test_support.h"
#include "tests/support/scripted_view.h"

#include <algorithm>
#include <map>

using namespace service_test;

namespace {

// The package's inputs as the build made them (Wine paths on drive Z:).
const Text kLauncherExe = TUNNEL_LAUNCHER_EXE;
const Text kProxyExe = TUNNEL_PROXY_EXE;
const Text kAssets = TUNNEL_ASSETS_DIR;
const Text kPackageZip = TUNNEL_PACKAGE_ZIP;

const Text kAddress = "http://127.0.0.1:18999/fetch/index.php";

using IniSection = std::map<Text, Text>;

IniSection ReadSection(const Text& file, const Text& section) {
  std::vector<char> buffer(32768);
  DWORD n = GetPrivateProfileSectionA(section.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
  IniSection values;
  for (size_t i = 0; i < n && buffer[i];) {
    Text line(&buffer[i]);
    i += line.size() + 1;
    size_t eq = line.find('=');
    values[line.substr(0, eq)] = eq == Text::npos ? Text() : line.substr(eq + 1);
  }
  return values;
}

std::vector<Text> SectionNames(const Text& file) {
  std::vector<char> buffer(32768);
  DWORD n = GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
  std::vector<Text> names;
  for (size_t i = 0; i < n && buffer[i];) {
    names.emplace_back(&buffer[i]);
    i += names.back().size() + 1;
  }
  return names;
}

std::vector<Text> FolderEntries(const Text& folder) {
  std::vector<Text> names;
  WIN32_FIND_DATAA entry;
  FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &entry));
  if (!find) return names;
  do {
    Text name = entry.cFileName;
    if (name == "." || name == "..") continue;
    names.push_back(name + ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : ""));
  } while (FindNextFileA(find.Get(), &entry));
  std::sort(names.begin(), names.end());
  return names;
}

// Full image paths of the running processes with this image name.
std::vector<Text> ImagePaths(const Text& image) {
  std::vector<Text> paths;
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
    if (Text(entry.szExeFile) != image) continue;
    KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    char path[MAX_PATH * 2];
    DWORD size = sizeof(path);
    if (process && QueryFullProcessImageNameA(process.Get(), 0, path, &size)) paths.emplace_back(path, size);
  }
  return paths;
}

bool ServiceStopped() { return CountImages(kLauncherImage) == 0 && CountImages(kProxyImage) == 0; }

class DeployTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitUntil(ServiceStopped, 5000)) << "a tunnel service process is already running";
    view_.rows = {{"北京", "http://127.0.0.1:18998/other.php", "甲", "10G", "快"},
                  {"上海", kAddress, "乙", "不限", "中"}};
  }
  void TearDown() override {
    StopTunnelProcesses();
    WaitUntil(ServiceStopped, 5000);
  }

  TempDir programDir_{"deploy"};
  ScriptedView view_;
  AppContext app_{view_, programDir_.Path(), "CorvalenProxy.exe"};
};

TEST(PackageArchiveTest, EmbeddedArchiveIsTheBuiltOneByteForByte) {
  const Bytes built = ReadWholeFile(kPackageZip);
  ASSERT_GT(built.size(), 1000u);
  EXPECT_TRUE(EmbeddedTunnelPackage() == built);
}

TEST_F(DeployTest, SelectedRowUnpacksConfiguresStartsAndReports) {
  view_.selected = 1;
  DeployTunnelService(app_);

  const Text serviceDir = app_.ServiceDir();
  EXPECT_TRUE(view_.boxes.empty());
  ASSERT_EQ(view_.labels.size(), 1u);
  EXPECT_EQ(view_.labels[0], kTunnelReadyText);
  EXPECT_FALSE(Exists(programDir_ / "service.zip"));

  // Exactly the package's entries, byte for byte as built.
  EXPECT_EQ(FolderEntries(serviceDir),
            (std::vector<Text>{"certs\\", "corvalen.exe", "proxy.ini", "proxy.pac", "python27.exe", "readme.txt"}));
  EXPECT_EQ(ReadWholeFile(serviceDir + "corvalen.exe"), ReadWholeFile(kLauncherExe));
  EXPECT_EQ(ReadWholeFile(serviceDir + "python27.exe"), ReadWholeFile(kProxyExe));
  EXPECT_EQ(ReadWholeFile(serviceDir + "proxy.pac"), ReadWholeFile(kAssets + "/proxy.pac"));
  EXPECT_EQ(ReadWholeFile(serviceDir + "readme.txt"), ReadWholeFile(kAssets + "/readme.txt"));

  // fetchserver is the selected row's address; every other key and section as shipped.
  const Text ini = serviceDir + "proxy.ini";
  const Text shipped = kAssets + "/proxy.ini";
  IniSection expected = ReadSection(shipped, "php");
  ASSERT_EQ(expected.count("fetchserver"), 1u);
  ASSERT_EQ(expected["fetchserver"], "");
  expected["fetchserver"] = kAddress;
  EXPECT_EQ(ReadSection(ini, "php"), expected);
  EXPECT_EQ(SectionNames(ini), SectionNames(shipped));

  // The launcher runs from ServiceDir and has started the proxy beside it.
  EXPECT_TRUE(WaitUntil([] { return CountImages(kLauncherImage) == 1 && CountImages(kProxyImage) == 1; }));
  EXPECT_EQ(ImagePaths(kLauncherImage), std::vector<Text>{serviceDir + "corvalen.exe"});
  EXPECT_EQ(ImagePaths(kProxyImage), std::vector<Text>{serviceDir + "python27.exe"});

  // Closing the window: both processes end and ServiceDir is gone.
  CleanUpTunnelService(app_);
  EXPECT_TRUE(WaitUntil(ServiceStopped));
  EXPECT_FALSE(Exists(serviceDir));
  EXPECT_TRUE(IsFolder(programDir_.Path()));
}

TEST_F(DeployTest, SecondClickRedeploysFromScratch) {
  view_.selected = 0;
  DeployTunnelService(app_);
  ASSERT_EQ(view_.Label(), kTunnelReadyText);
  ASSERT_TRUE(WaitUntil([] { return CountImages(kLauncherImage) == 1; }));
  ASSERT_TRUE(WriteWholeFile(app_.ServiceDir() + "stale.txt", "from before"));

  view_.selected = 1;
  DeployTunnelService(app_);
  EXPECT_EQ(view_.labels, (std::vector<Text>{kTunnelReadyText, kTunnelReadyText}));
  EXPECT_FALSE(Exists(app_.ServiceDir() + "stale.txt"));
  EXPECT_EQ(ReadSection(app_.ServiceDir() + "proxy.ini", "php")["fetchserver"], kAddress);
  // The first deployment's launcher was ended: one launcher, one proxy.
  EXPECT_TRUE(WaitUntil([] { return CountImages(kLauncherImage) == 1 && CountImages(kProxyImage) == 1; }));
  Sleep(500);
  EXPECT_EQ(CountImages(kLauncherImage), 1);
  EXPECT_EQ(CountImages(kProxyImage), 1);
}

TEST_F(DeployTest, WithoutSelectionShowsTheBoxStopsTheServiceAndTouchesNoFile) {
  TempDir running("running");
  std::vector<KernelHandle> service;
  service.push_back(StartSleeper(running.Path(), kLauncherImage));
  service.push_back(StartSleeper(running.Path(), kProxyImage));
  ASSERT_TRUE(WaitUntil([] { return CountImages(kLauncherImage) == 1 && CountImages(kProxyImage) == 1; }));
  ASSERT_TRUE(CreateDirectoryA(app_.ServiceDir().c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(app_.ServiceDir() + "proxy.ini", "[php]\r\nfetchserver=kept\r\n"));

  view_.selected = -1;
  DeployTunnelService(app_);

  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].text, "请先选中左侧通道地址，再点【使用】按钮！");
  EXPECT_EQ(view_.boxes[0].flags, 0);
  EXPECT_EQ(view_.boxes[0].caption, "操作错误");
  EXPECT_TRUE(view_.labels.empty());
  EXPECT_TRUE(WaitUntil(ServiceStopped));
  for (KernelHandle& p : service) EXPECT_EQ(WaitForSingleObject(p.Get(), 5000), WAIT_OBJECT_0);
  EXPECT_EQ(ReadWholeFile(app_.ServiceDir() + "proxy.ini"), "[php]\r\nfetchserver=kept\r\n");
  EXPECT_FALSE(Exists(programDir_ / "service.zip"));
}

// A deployment that cannot complete says so and starts nothing.
TEST_F(DeployTest, FailedStepsAreReportedAndNothingIsStarted) {
  view_.selected = 1;
  // 1. ProgramDir that does not exist: the archive cannot be written.
  {
    AppContext missing{view_, programDir_ / "missing", "CorvalenProxy.exe"};
    DeployTunnelService(missing);
    EXPECT_EQ(view_.Label(), Text(kTunnelFailedText) + "无法写入服务包");
  }
  // 2. A file of ServiceDir held open by someone else: unpacking stops short.
  {
    ASSERT_TRUE(CreateDirectoryA(app_.ServiceDir().c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(app_.ServiceDir() + "proxy.pac", "held"));
    FileHandle holder(
        CreateFileA((app_.ServiceDir() + "proxy.pac").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    DeployTunnelService(app_);
    EXPECT_EQ(view_.Label(), Text(kTunnelFailedText) + "服务包解压不完整");
    EXPECT_FALSE(Exists(programDir_ / "service.zip"));
    // The package lists readme.txt after proxy.pac: unpacking stopped at the held file.
    EXPECT_FALSE(Exists(app_.ServiceDir() + "readme.txt"));
  }
  for (const Text& label : view_.labels) EXPECT_NE(label, kTunnelReadyText);
  Sleep(1500);  // longer than the launcher needs to start its proxy
  EXPECT_TRUE(ServiceStopped());
}

}  // namespace
