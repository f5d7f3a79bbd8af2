// An ordered list of byte-string lines, and the text files it is read from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Platform.h"

class LineList {
 public:
  void Clear() { Lines.clear(); }
  int Count() const { return static_cast<int>(Lines.size()); }
  // Index must be below Count().
  const std::string& Get(int Index) const { return Lines[Index]; }
  void Add(const std::string& Line) { Lines.push_back(Line); }

  // Replaces the entries with the lines of the file at Path (a pipe too,
  // where Kinds allows). Raises EFOpenError (the entries stay) when it
  // cannot be opened, EReadError when it cannot be read or holds 2 GiB or more.
  void LoadLines(const std::string& Path, Platform::TReadable Kinds);
  // Replaces the entries with the lines of Text: CR LF, a lone CR and a lone
  // LF each end a line, a last line without a break counts too; the first
  // NUL ends the text.
  void SplitLines(std::string_view Text);

 private:
  std::vector<std::string> Lines;
};
