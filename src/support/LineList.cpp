#include "LineList.h"

#include <algorithm>

#include "Failures.h"
#include "TextFile.h"

void LineList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) Raise<EStringListError>(Index);
}

std::string LineList::Get(int Index) const {
  CheckIndex(Index);
  return Lines[Index];
}

void LineList::Put(int Index, const std::string& Line) {
  CheckIndex(Index);
  Lines[Index] = Line;
}

int LineList::Add(const std::string& Line) {
  Lines.push_back(Line);
  return Count() - 1;
}

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

std::string LineList::JoinLines() const {
  std::string Text;
  for (const std::string& Line : Lines) Text.append(Line).append("\r\n");
  return Text;
}
