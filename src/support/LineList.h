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
  // Raise EStringListError for an index outside 0 .. Count() - 1.
  std::string Get(int Index) const;
  void Put(int Index, const std::string& Line);
  // Returns the new entry's index.
  int Add(const std::string& Line);

  // Replaces the entries with the lines of the file at Path (a pipe too,
  // where Kinds allows). Raises EFOpenError (the entries stay) when it
  // cannot be opened, EReadError when it cannot be read or holds 2 GiB or more.
  void LoadLines(const std::string& Path, Platform::TReadable Kinds);
  // Replaces the entries with the lines of Text: CR LF, a lone CR and a lone
  // LF each end a line, a last line without a break counts too; the first
  // NUL ends the text.
  void SplitLines(std::string_view Text);
  // All entries, each followed by CR LF.
  std::string JoinLines() const;

 private:
  void CheckIndex(int Index) const;

  std::vector<std::string> Lines;
};
