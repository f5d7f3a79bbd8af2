// An ordered list of byte-string lines, and the text files it is read from
// and written to. A loaded file's text is kept whole, in one block, and its
// lines are found by scanning it, so that a file costs its own size and
// nothing per line; lines given by Put and Add have storage of their own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FileOps.h"
#include "Platform.h"

class LineList {
 public:
  void Clear();
  int Count() const;
  // Raise EStringListError for an index outside 0 .. Count() - 1. Reading
  // the lines in order costs one scan of the text.
  std::string Get(int Index) const;
  void Put(int Index, const std::string& Line);
  // Returns the new entry's index.
  int Add(const std::string& Line);

  // Replaces the entries with the lines of the file at Path. CR LF, a lone CR
  // and a lone LF each end a line; the first NUL ends the text. Returns false
  // when a byte other than NUL follows that NUL, that is when the lines do not
  // hold the whole file. Raises EFOpenError (the entries stay) when the file
  // cannot be opened, EReadError when it cannot be read or holds 2 GiB or more.
  bool LoadLines(const std::string& Path,
                 Platform::TReadable Kinds = Platform::TReadable::RegularFile);
  // Which file LoadLines read, as it was then.
  const Platform::TFileStamp& LoadedStamp() const { return Loaded; }

  // Writes every entry followed by CR LF to a new file beside the one at
  // Path, with that file's permissions, and hands it to New: it takes Path's
  // name later (PlaceNewFile), once its content is on the disk
  // (Platform::FlushWritten). Returns 0, or the platform's code when the
  // file or its folder refuses the new file (Platform::IsRefusal) or its
  // name cannot be made there (Platform::IsNotFound: too long); raises
  // EFCreateError when it cannot be created otherwise, EWriteError when it
  // cannot be written. The file at Path stays untouched. The list then
  // holds the text written, as JoinLines leaves it.
  int SaveLines(const std::string& Path, TNewFile& New);

  // The lines of Text, without their line breaks.
  void SplitLines(std::string_view Text);
  // All entries, each followed by CR LF. The list then holds that text: an
  // entry given with a line break of its own becomes two there.
  std::string JoinLines();

 private:
  // A line given by Put in place of a loaded one, and the length of that one.
  struct TChange {
    std::string Line;
    size_t Replaced;
  };

  void CheckIndex(int Index) const;
  void TakeText(std::unique_ptr<char[]> Text, size_t Size, size_t Capacity);
  // Rewrites the text into the entries each followed by CR LF, the form they
  // are saved in: in its own buffer where it fits, else in a new one.
  void JoinText();
  size_t LineStart(int Index) const;
  size_t JoinedSize() const;
  // The lines of the text From..To (which end at a line start or at the
  // text's end) written to Out with CR LF after each; OutEnd ends Out's room.
  char* ConvertRun(size_t From, size_t To, char* Out, const char* OutEnd) const;
  char* JoinInto(char* Out, const char* OutEnd) const;

  // The text of the loaded file, up to its first NUL, and what a scan of it found.
  std::unique_ptr<char[]> Text;
  size_t TextSize = 0, TextCapacity = 0, BreakBytes = 0;
  int TextLines = 0;
  bool CrLfOnly = true;
  Platform::TFileStamp Loaded;
  std::map<int, TChange> Changes;
  std::vector<std::string> Added;
  // The start of the line that Get reached last, so that reading in order
  // goes on from there.
  mutable int CursorLine = 0;
  mutable size_t CursorStart = 0;
};
