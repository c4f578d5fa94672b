// RefreshChannelList through the real WinINet against the dev content server
// (tools/content_server.py, started by tests/servers/with_servers.py on a free
// port with an empty folder that these tests fill).
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/channels/channel_list.h"
#include "common/platform.h"
#include "tests/channels/channel_cases.h"
#include "tests/support/scripted_view.h"

namespace {

Text Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Publishes body as corvalen/<name>.txt on the content server; returns its URL.
Text Publish(const Text& name, const Bytes& body) {
  const Text path = Env("CORVALEN_TEST_CONTENT_DIR") + "\\corvalen\\" + name + ".txt";
  EXPECT_TRUE(WriteWholeFile(path, body)) << path;
  return "http://" + Env("CORVALEN_TEST_CONTENT") + "/corvalen/" + name + ".txt";
}

std::vector<std::vector<Text>> OldRows() { return {{"old", "http://old.example/", "p", "t", "s"}}; }

class ChannelRefresh : public testing::Test {
 protected:
  void SetUp() override {
    if (Env("CORVALEN_TEST_CONTENT").empty()) GTEST_FAIL() << "run through tests/servers/with_servers.py";
    view.rows = OldRows();
  }
  ScriptedView view;
  AppContext app{view, "C:\\corvalen", "CorvalenProxy.exe"};
};

TEST_F(ChannelRefresh, EveryCaseFillsTheTableAsItsRowsSay) {
  for (const ChannelCase& c : ChannelCases()) {
    view.rows = OldRows();
    const int clears = view.clearCount;
    RefreshChannelListFrom(app, Publish(c.name, c.body));
    EXPECT_EQ(view.clearCount, clears + 1) << c.name;
    EXPECT_EQ(view.rows, c.rows) << c.name;
  }
}

TEST_F(ChannelRefresh, PressingRefreshTwiceGivesTheSameTable) {
  const Text url = Publish(
      "twice",
      "美国|http://192.0.2.10/index.php|甲|每天1G|快<BR>\r\n日本|http://192.0.2.20/index.php|乙|不限|中<BR>\r\n");
  RefreshChannelListFrom(app, url);
  const auto first = view.rows;
  ASSERT_EQ(first.size(), 2u);
  RefreshChannelListFrom(app, url);
  EXPECT_EQ(view.rows, first);
}

TEST_F(ChannelRefresh, EmptyBodyLeavesTheTableEmpty) {
  RefreshChannelListFrom(app, Publish("empty_body", ""));
  EXPECT_TRUE(view.rows.empty());
  EXPECT_TRUE(view.boxes.empty());
  EXPECT_TRUE(view.labels.empty());
}

TEST_F(ChannelRefresh, UnreachableServerLeavesTheTableEmpty) {
  RefreshChannelListFrom(app, "http://" + Env("CORVALEN_TEST_CLOSED") + "/corvalen/list.txt");
  EXPECT_TRUE(view.rows.empty());
  EXPECT_TRUE(view.boxes.empty());
  EXPECT_TRUE(view.labels.empty());
}

TEST_F(ChannelRefresh, MissingListGivesA404AndAnEmptyTable) {
  RefreshChannelListFrom(app, "http://" + Env("CORVALEN_TEST_CONTENT") + "/corvalen/missing.txt");
  EXPECT_TRUE(view.rows.empty());
  EXPECT_TRUE(view.boxes.empty());
}

TEST_F(ChannelRefresh, AnErrorStatusIsNotAListWhateverItsBody) {
  // The same list text under different statuses: only 2xx fills the table.
  const Text list = "%E7%BE%8E%E5%9B%BD|http://192.0.2.10/index.php|p|t|s<BR>";  // 美国 in the query
  const std::pair<const char*, size_t> cases[] = {{"200", 1}, {"203", 1}, {"404", 0}, {"500", 0}, {"503", 0}};
  for (const auto& [status, rows] : cases) {
    view.rows = OldRows();
    RefreshChannelListFrom(app, "http://" + Env("CORVALEN_TEST_HTTP") + "/status/" + status + "?body=" + list);
    ASSERT_EQ(view.rows.size(), rows) << status;
    if (rows) {
      EXPECT_EQ(view.rows[0][0], "美国") << status;
    }
  }
}

}  // namespace
