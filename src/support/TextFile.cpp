#include "TextFile.h"

#include <algorithm>
#include <cstring>

#include "Failures.h"
#include "LineRewriter.h"

namespace {

// The largest file read: 2 GiB and more are refused.
constexpr uint64_t MaxFileSize = 0x7FFFFFFF;
// The size of a pipe, which holds whatever its writer gives.
constexpr uint64_t UnknownSize = UINT64_MAX;
// A piece of a file: large enough that the calls cost little, small enough
// to stay in the processor's cache.
constexpr size_t PieceCapacity = 1 << 20;

}  // namespace

TTextFile::TTextFile(const std::string& Path, Platform::TReadable Kinds) {
  if (Platform::OpenForReading(Path, Kinds, File) != 0) Raise<EFOpenError>(Path);
  // Taken before the read, so that a change while it reads shows as one;
  // the file is read up to the size it had then.
  int Code = Platform::StampOf(File, Opened);
  Known = Opened.Regular ? Opened.Size : UnknownSize;
  if (Code != 0 || (Known != UnknownSize && Known > MaxFileSize)) {
    Platform::CloseFile(File);
    Raise<EReadError>();
  }
}

TTextFile::~TTextFile() {
  // Everything has been read or has failed: an error of the close says nothing more.
  Platform::CloseFile(File);
}

bool TTextFile::ReadPiece() {
  if (!Piece) {
    // A small file gets a buffer of its own size, and one byte for the NUL.
    Capacity = static_cast<size_t>(std::min<uint64_t>(Known, PieceCapacity));
    Piece.reset(new char[Capacity + 1]);
  }
  // A file of known size is read up to that size: a change since then
  // shows in its stamp.
  size_t Wanted =
      Known == UnknownSize ? Capacity : static_cast<size_t>(std::min<uint64_t>(Capacity, Known - Read));
  for (PieceSize = 0; PieceSize < Wanted;) {
    size_t Got = 0;
    if (Platform::ReadSome(File, Piece.get() + PieceSize, Wanted - PieceSize, Got) != 0) Raise<EReadError>();
    if (Got == 0) break;
    PieceSize += Got;
  }
  Read += PieceSize;
  if (Read > MaxFileSize) Raise<EReadError>();
  Piece[PieceSize] = '\0';
  PieceRead = PieceSize > 0;
  return PieceRead;
}

std::string_view TTextFile::FirstLineHead() {
  if (!PieceRead && Read == 0) ReadPiece();
  if (!PieceRead) return {};
  size_t Length = std::strcspn(Piece.get(), "\r\n");
  return {Piece.get(), std::min(Length, HeadSize)};
}

bool TTextFile::WriteRewritten(std::string_view FirstLine, Platform::TFileState* Out, uint64_t& Size,
                               void (*BetweenPieces)()) {
  TLineRewriter Lines;
  std::unique_ptr<char[]> Buffer(new char[FirstLine.size() + 2 * Capacity + 36]);
  char* End = std::copy_n("\r\n", 2, std::copy(FirstLine.begin(), FirstLine.end(), Buffer.get()));
  Size = 0;
  auto Write = [&](std::string_view Bytes) {
    if (Out != nullptr && !Bytes.empty() && Platform::WriteAll(Out, Bytes.data(), Bytes.size()) != 0)
      Raise<EWriteError>();
    Size += Bytes.size();
  };
  for (bool More = PieceRead || ReadPiece(); More;) {
    std::string_view Done = Lines.Take({Piece.get(), PieceSize}, End);
    // A piece that goes as it was read is written from the read buffer,
    // unless the new first line waits before it.
    if (Done.data() == End) End += Done.size();
    else if (End != Buffer.get()) End = std::copy(Done.begin(), Done.end(), End);
    else Write(Done);
    More = ReadPiece();
    if (!More) End = Lines.Finish(End);
    Write({Buffer.get(), static_cast<size_t>(End - Buffer.get())});
    End = Buffer.get();
    if (More) BetweenPieces();
  }
  return Lines.Whole();
}

std::string TTextFile::ReadText() {
  std::string Text;
  bool Ended = false;
  for (bool More = PieceRead || ReadPiece(); More; More = ReadPiece()) {
    // The piece up to a NUL in it, or whole: a NUL follows it.
    size_t Length = Ended ? 0 : std::strlen(Piece.get());
    Text.append(Piece.get(), Length);
    Ended = Ended || Length < PieceSize;
  }
  return Text;
}
