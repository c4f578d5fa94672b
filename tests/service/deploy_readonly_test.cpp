// "使用" with a ProgramDir that cannot be written (run_readonly.py makes one and
// passes its Wine path in CORVALEN_READONLY_PROGRAM_DIR): the status line says
// that loading failed, nothing is unpacked and nothing is started.
#include "app/service/tunnel_service.h"
#include "tests/service/service_test_support.h"
#include "tests/support/scripted_view.h"

using namespace service_test;

namespace {

TEST(DeployReadOnlyTest, ReadOnlyProgramDirGivesTheFailureText) {
  char dir[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("CORVALEN_READONLY_PROGRAM_DIR", dir, sizeof(dir));
  ASSERT_TRUE(n > 0 && n < sizeof(dir)) << "run through run_readonly.py";
  const Text programDir(dir, n);
  ASSERT_TRUE(IsFolder(programDir));
  // The folder really refuses new files.
  ASSERT_FALSE(WriteWholeFile(programDir + "\\probe.txt", "x"));

  ScriptedView view;
  view.rows = {{"上海", "http://127.0.0.1:18999/fetch/index.php", "乙", "不限", "中"}};
  view.selected = 0;
  AppContext app{view, programDir, "CorvalenProxy.exe"};
  DeployTunnelService(app);

  EXPECT_TRUE(view.boxes.empty());
  ASSERT_EQ(view.labels.size(), 1u);
  EXPECT_EQ(view.labels[0], Text(kTunnelFailedText) + "无法写入服务包");
  EXPECT_FALSE(Exists(programDir + "\\service.zip"));
  EXPECT_FALSE(Exists(app.ServiceDir()));
  Sleep(1500);  // longer than a launcher needs to start its proxy
  EXPECT_EQ(CountImages(kLauncherImage), 0);
  EXPECT_EQ(CountImages(kProxyImage), 0);
}

}  // namespace
