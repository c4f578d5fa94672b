#include "app/channels/channel_parse.h"

#include <gtest/gtest.h>

#include "app/http/status_line.h"
#include "tests/channels/channel_cases.h"
#include "tests/support/scripted_view.h"

namespace {

TEST(ChannelParse, CountLines) {
  const std::pair<Text, int> cases[] = {{"", 0},           {"a", 1},  {"\n", 1},   {"a\n", 1},    {"a\nb", 2},
                                        {"a\r\nb\r\n", 2}, {"\r", 1}, {"\n\n", 2}, {"a\n\nb", 3}, {"\r\r\r", 1}};
  for (const auto& [text, lines] : cases) EXPECT_EQ(CountLines(text), lines) << text;
}

TEST(ChannelParse, SplitNonEmpty) {
  struct Case {
    Text text, delimiter;
    TextArray pieces;
  };
  const Case cases[] = {
      {"", "|", {}},
      {"|", "|", {}},
      {"a||b|", "|", {"a", "b"}},
      {"|a|", "|", {"a"}},
      {"a<BR><BR>b", "<BR>", {"a", "b"}},
      {"a<br>b", "<BR>", {"a<br>b"}},
      {"\x81\x7C|x", "|", {"\x81\x7C", "x"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitNonEmpty(c.text, c.delimiter), c.pieces) << c.text;
}

class ChannelRows : public testing::TestWithParam<ChannelCase> {};

TEST_P(ChannelRows, FillTheTable) {
  ScriptedView view;
  AppendChannelRows(view, BytesToText(GetParam().body));
  EXPECT_EQ(view.rows, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(Bodies, ChannelRows, testing::ValuesIn(ChannelCases()),
                         [](const testing::TestParamInfo<ChannelCase>& info) { return info.param.name; });

TEST(ChannelParse, ARefusedRowStopsTheFill) {
  class RefusingView : public MainView {
   public:
    int appends = 0, cells = 0;
    void ClearRows() override {}
    int AppendRow() override { return ++appends > 1 ? -1 : 0; }
    void SetCellText(int, int, const Text&) override { ++cells; }
    Text GetCellText(int, int) const override { return {}; }
    int SelectedRow() const override { return -1; }
    void SetLabelText(const Text&) override {}
    int ShowMessageBox(const Text&, int, const Text&) override { return kBoxOk; }
  } view;
  AppendChannelRows(view, "a|b<BR>\nc|d<BR>\ne|f<BR>");
  EXPECT_EQ(view.appends, 2);
  EXPECT_EQ(view.cells, 2);
}

TEST(StatusLine, HttpStatusCode) {
  const std::pair<Text, int> cases[] = {
      {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", 200},
      {"HTTP/1.0 404 Not Found\r\n\r\n", 404},
      {"http/1.1 204\r\n", 204},
      {"HTTP/1.1 301 Moved\r\nLocation: /x\r\n", 301},
      {"HTTP/1.1 500 Internal\r\n", 500},
      {Text(5000, ' '), 0},
      {"\r\n", 0},
      {"", 0},
      {"HTTP/1.1 20 OK\r\n", 0},
      {"HTTP/1.1 2000 OK\r\n", 0},
      {"HTTP/1.1\r\nX: 200 OK\r\n", 0},
      {"Server: HTTP/1.1 200 OK\r\n", 0},
  };
  for (const auto& [headers, code] : cases) EXPECT_EQ(HttpStatusCode(headers), code) << headers.substr(0, 30);
  EXPECT_TRUE(IsSuccessStatus("HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(IsSuccessStatus("HTTP/1.1 299 X\r\n"));
  EXPECT_FALSE(IsSuccessStatus("HTTP/1.1 199 X\r\n"));
  EXPECT_FALSE(IsSuccessStatus("HTTP/1.1 300 X\r\n"));
  EXPECT_FALSE(IsSuccessStatus("HTTP/1.1 404 Not Found\r\n"));
  EXPECT_FALSE(IsSuccessStatus(Text(5000, ' ')));
}

}  // namespace
