#include "app/channels/channel_parse.h"

#include <algorithm>

int CountLines(const Text& text) {
  int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  if (!text.empty() && text.back() != '\n') ++lines;
  return lines;
}

TextArray SplitNonEmpty(const Text& text, const Text& delimiter) {
  TextArray pieces;
  for (Text& piece : SplitText(text, delimiter))
    if (!piece.empty()) pieces.push_back(std::move(piece));
  return pieces;
}

void AppendChannelRows(MainView& view, const Text& listText) {
  const int lines = CountLines(listText);
  const TextArray records = SplitNonEmpty(listText, "<BR>");
  // One row per line; a text with more lines than records (lines without
  // "<BR>", empty lines) shows the records there are and no more.
  const int rows = std::min(lines, static_cast<int>(records.size()));
  for (int i = 0; i < rows; ++i) {
    const TextArray fields = SplitNonEmpty(records[i], "|");
    const int row = view.AppendRow();
    if (row < 0) return;
    for (size_t j = 0; j < fields.size(); ++j) view.SetCellText(row, static_cast<int>(j), fields[j]);
  }
}
