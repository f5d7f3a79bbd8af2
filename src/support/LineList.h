// An ordered list of byte-string lines, and the text files it is read from
// and written to. A loaded file's text is kept whole, in one block, with an
// index of where its lines start; lines given by Add and Put have storage of
// their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Platform.h"

class LineList {
 public:
  void Clear();
  int Count() const;
  // Raise EStringListError for an index outside 0 .. Count() - 1.
  std::string Get(int Index) const;
  void Put(int Index, const std::string& Line);
  // Returns the new entry's index.
  int Add(const std::string& Line);

  // Replaces the entries with the lines of the file at Path. CR LF, a lone CR
  // and a lone LF each end a line; the first NUL ends the text. Returns false
  // when a byte other than NUL follows that NUL, that is when the lines do not
  // hold the whole file. Raises EFOpenError (the entries stay) when the file
  // cannot be opened, EReadError when it cannot be read.
  bool LoadLines(const std::string& Path,
                 Platform::TReadable Kinds = Platform::TReadable::RegularFile);

  // Writes every entry followed by CR LF to a new file that then replaces
  // the one at Path in one step, with the permissions of the file at
  // AccessModel: Path itself, or another name of its old content in the
  // same folder, which is made durable before Path is replaced. In place of
  // Path itself, the new file goes in only while Path still holds the file
  // this list was loaded from, unchanged. Whatever fails, the file at Path
  // keeps its old content and no temporary file is left: false when the
  // file or its folder refuses the new file (permission, read-only, in use)
  // or the file has changed; EFCreateError when the new file cannot be
  // created or put in place for another reason, EWriteError when it cannot
  // be written or flushed.
  bool SaveLines(const std::string& Path, const std::string& AccessModel) const;

  // The lines of Text, without their line breaks.
  void SplitLines(std::string Text);
  // All entries, each followed by CR LF.
  std::string JoinLines() const;

 private:
  // An index entry: the start of a line in Loaded, or, with OwnedFlag set,
  // the position of the line in Owned.
  static constexpr uint32_t OwnedFlag = 0x80000000u;

  void CheckIndex(int Index) const;
  size_t LoadedLength(uint32_t Start) const;

  std::string Loaded;
  Platform::TFileStamp LoadedStamp;
  std::vector<uint32_t> Index;
  std::vector<std::string> Owned;
};
