#include "LineList.h"

#include <algorithm>

#include "TextFile.h"

void LineList::LoadLines(const std::string& Path, Platform::TReadable Kinds) {
  TTextFile File(Path, Kinds);
  SplitLines(File.ReadText());
}

void LineList::SplitLines(std::string_view Text) {
  Lines.clear();
  Text = Text.substr(0, Text.find('\0'));
  for (size_t Start = 0; Start < Text.size();) {
    size_t End = std::min(Text.find_first_of("\r\n", Start), Text.size());
    Lines.emplace_back(Text.substr(Start, End - Start));
    if (End < Text.size() && Text[End] == '\r') ++End;
    if (End < Text.size() && Text[End] == '\n') ++End;
    Start = End;
  }
}
