// Channel list bodies and the table each must give; shared by the parse tests
// and the refresh tests against the dev content server.
#pragma once

#include <ostream>
#include <vector>

#include "common/text.h"

struct ChannelCase {
  const char* name;
  Bytes body;
  std::vector<std::vector<Text>> rows;  // five cells each
};

inline void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.name; }

inline const std::vector<ChannelCase>& ChannelCases() {
  static const std::vector<ChannelCase> cases = {
      {"empty", "", {}},
      {"one_line_five_fields",
       "美国|http://192.0.2.10/index.php|甲|每天1G|快<BR>",
       {{"美国", "http://192.0.2.10/index.php", "甲", "每天1G", "快"}}},
      {"crlf_after_last",
       "美国|http://192.0.2.10/index.php|甲|每天1G|快<BR>\r\n",
       {{"美国", "http://192.0.2.10/index.php", "甲", "每天1G", "快"}}},
      {"two_lines_crlf",
       "美国|http://192.0.2.10/index.php|甲|每天1G|快<BR>\r\n日本|http://192.0.2.20/index.php|乙|不限|中<BR>\r\n",
       {{"美国", "http://192.0.2.10/index.php", "甲", "每天1G", "快"},
        {"\r\n日本", "http://192.0.2.20/index.php", "乙", "不限", "中"}}},
      {"two_lines_lf", "a|u1|p|t|s<BR>\nb|u2|p|t|s<BR>", {{"a", "u1", "p", "t", "s"}, {"\nb", "u2", "p", "t", "s"}}},
      {"three_on_one_line", "a|u1|p<BR>b|u2|p<BR>c|u3|p<BR>", {{"a", "u1", "p", "", ""}}},
      {"empty_second_field", "美国||甲|每天1G|快<BR>", {{"美国", "甲", "每天1G", "快", ""}}},
      {"only_bars", "||||<BR>\r\nx|y<BR>", {{"", "", "", "", ""}, {"\r\nx", "y", "", "", ""}}},
      {"seven_fields", "a|b|c|d|e|f|g<BR>", {{"a", "b", "c", "d", "e"}}},
      {"lower_case_br", "a|u1|p<br>\r\nb|u2|p<br>", {{"a", "u1", "p<br>\r\nb", "u2", "p<br>"}}},
      {"lower_case_br_one_line", "a|u1|p<br>b|u2|p", {{"a", "u1", "p<br>b", "u2", "p"}}},
      {"lines_without_br",
       "one line\r\ntwo line\r\nthree\r\n",
       {{"one line\r\ntwo line\r\nthree\r\n", "", "", "", ""}}},
      // Three lines, two records: the records there are.
      {"empty_line_between", "a|u1<BR>\r\n\r\nb|u2<BR>", {{"a", "u1", "", "", ""}, {"\r\n\r\nb", "u2", "", "", ""}}},
      // With a final line break the piece after the last "<BR>" is a third
      // record on the third line, and shows as a row of its own.
      {"empty_line_between_crlf_at_end",
       "a|u1<BR>\r\n\r\nb|u2<BR>\r\n",
       {{"a", "u1", "", "", ""}, {"\r\n\r\nb", "u2", "", "", ""}, {"\r\n", "", "", "", ""}}},
      {"more_lines_than_records",
       "a|u1<BR>\r\n\r\n\r\n\r\n",
       {{"a", "u1", "", "", ""}, {"\r\n\r\n\r\n\r\n", "", "", "", ""}}},
      {"zero_byte_ends_text",
       Bytes("a|u1<BR>\r\nb|u2<BR>\0c|u3<BR>\r\n", 28),
       {{"a", "u1", "", "", ""}, {"\r\nb", "u2", "", "", ""}}},
      {"starts_with_zero", Bytes("\0a|u1<BR>", 9), {}},
      // 亅 is 81 7C: its second byte is "|" but it does not split a field.
      {"bar_as_trail_byte", "\x81\x7C|u1|p<BR>", {{"\x81\x7C", "u1", "p", "", ""}}},
      {"double_separators", "<BR><BR>a|u1<BR>\r\nb|u2<BR>", {{"a", "u1", "", "", ""}, {"\r\nb", "u2", "", "", ""}}},
  };
  return cases;
}
