// Text files read piece by piece, and rewritten as they are read. A text
// ends at its first NUL; what follows that NUL is only checked to be NULs too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Platform.h"

// A file opened for reading, its text read in pieces.
class TTextFile {
 public:
  // Raises EFOpenError when the file cannot be opened as one of Kinds.
  explicit TTextFile(const std::string& Path,
                     Platform::TReadable Kinds = Platform::TReadable::RegularFile);
  ~TTextFile();
  TTextFile(const TTextFile&) = delete;
  TTextFile& operator=(const TTextFile&) = delete;

  // Which file was opened, as it was then.
  const Platform::TFileStamp& Stamp() const { return Opened; }
  Platform::TFileState* Handle() const { return File; }
  // The first bytes of the text's first line, at most HeadSize of them
  // (fewer only when the line is shorter); empty for a text without lines.
  static constexpr size_t HeadSize = 16;
  std::string_view FirstLineHead();
  // Writes the text to Out (where it is not null: else the text is only
  // read through) with FirstLine in place of its first line and CR LF after
  // every line; Size gets the bytes written; BetweenPieces runs after each
  // piece but the last. False when bytes other than NUL follow the text's
  // end: the text is not all of the file. Raises EReadError when a read
  // fails or the file holds 2 GiB or more, EWriteError when a write fails.
  bool WriteRewritten(std::string_view FirstLine, Platform::TFileState* Out, uint64_t& Size,
                      void (*BetweenPieces)());
  // The whole text, up to its first NUL, with its line breaks as they are.
  // Raises EReadError as WriteRewritten does.
  std::string ReadText();

 private:
  // Reads the next piece into the buffer, filling it unless the file ends;
  // false at the end of the file.
  bool ReadPiece();

  Platform::TFileState* File = nullptr;
  Platform::TFileStamp Opened;
  uint64_t Known = 0, Read = 0;  // the size found at opening; the bytes read so far
  std::unique_ptr<char[]> Piece;
  size_t Capacity = 0, PieceSize = 0;
  bool PieceRead = false;  // the buffer holds a piece not yet taken
};
