#include "TextFile.h"

#include <algorithm>
#include <cstring>

#include "Failures.h"

namespace {

// The largest file read: 2 GiB and more are refused.
constexpr uint64_t MaxFileSize = 0x7FFFFFFF;
// The size of a pipe, which holds whatever its writer gives.
constexpr uint64_t UnknownSize = UINT64_MAX;
// A piece of a file: large enough that the calls cost little, small enough
// to stay in the processor's cache.
constexpr size_t PieceCapacity = 1 << 20;

char* EndLine(char* Out) {
  *Out++ = '\r';
  *Out++ = '\n';
  return Out;
}

// True when From..To holds only NULs.
bool AllNuls(const char* From, const char* To) {
  static const char Zeros[4096] = {};
  for (size_t Size; From < To; From += Size) {
    Size = std::min<size_t>(To - From, sizeof Zeros);
    if (std::memcmp(From, Zeros, Size) != 0) return false;
  }
  return true;
}

// True when From..To (followed by a NUL) holds no NUL and every break in it
// is CR LF, an LF at its start being a lone one: one pass without a branch,
// which the compiler turns into vector code.
bool AllCrLf(const unsigned char* From, const unsigned char* To) {
  unsigned char Lone = From[0] == '\n';
  for (const unsigned char* At = From; At < To; ++At)
    Lone |= (At[0] == 0) | ((At[0] == '\r') & (At[1] != '\n')) | ((At[1] == '\n') & (At[0] != '\r'));
  return Lone == 0;
}

}  // namespace

// Writes From..To, which holds no CR and no NUL, with every LF as CR LF;
// returns the end of what it wrote. A library scan for LF alone is twice as
// fast as one for all three bytes on short lines, and a short line copied
// as 32 bytes (the rest is written over) a quarter faster again.
char* TLineRewriter::TakeLfLines(const char* From, const char* To, char* Out) {
  while (const char* Lf = static_cast<const char*>(std::memchr(From, '\n', To - From))) {
    size_t Length = Lf - From;
    std::memcpy(Out, From, Length <= 32 && To - From >= 32 ? 32 : Length);
    Out = EndLine(Out + Length);
    From = Lf + 1;
  }
  LineOpen = From < To;
  return std::copy(From, To, Out);
}

std::string_view TLineRewriter::Take(std::string_view Piece, char* Out) {
  const char* From = Piece.data();
  const char* To = From + Piece.size();
  char* Start = Out;
  // strcspn stops at a CR, an LF, or a NUL: one in the text ends it, the one
  // after the piece ends the piece. Once past the first line, the rest of
  // the piece is looked at once: the common cases go faster.
  for (bool Looked = false; From < To && Part != TPart::AfterText;) {
    if (AfterCr) {
      AfterCr = false;
      if (*From == '\n' && ++From == To) break;
    }
    if (Part == TPart::Lines && !Looked) {
      Looked = true;
      if (!std::memchr(From, '\r', To - From) && !std::memchr(From, '\0', To - From))
        return {Start, static_cast<size_t>(TakeLfLines(From, To, Out) - Start)};
      if (AllCrLf(reinterpret_cast<const unsigned char*>(From), reinterpret_cast<const unsigned char*>(To))) {
        // Already in its rewritten form: it goes as it was read.
        LineOpen = To[-1] != '\n';
        return {From, static_cast<size_t>(To - From)};
      }
    }
    size_t Run = std::strcspn(From, "\r\n");
    if (Part == TPart::Lines) Out = std::copy(From, From + Run, Out);
    LineOpen = LineOpen || (Run > 0 && Part == TPart::Lines);
    HasText = HasText || Run > 0;
    From += Run;
    if (From == To) break;
    if (*From == '\0') {
      if (LineOpen) Out = EndLine(Out);
      LineOpen = false;
      Part = TPart::AfterText;
      break;
    }
    if (Part == TPart::Lines) Out = EndLine(Out);
    HasText = true;
    LineOpen = false;
    Part = TPart::Lines;
    AfterCr = *From++ == '\r';
  }
  if (Part == TPart::AfterText) OnlyNuls = OnlyNuls && AllNuls(From, To);
  return {Start, static_cast<size_t>(Out - Start)};
}

char* TLineRewriter::Finish(char* Out) {
  if (LineOpen) Out = EndLine(Out);
  LineOpen = false;
  return Out;
}

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
  size_t Wanted = Known == UnknownSize ? Capacity
                                                  : static_cast<size_t>(std::min<uint64_t>(Capacity, Known - Read));
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
  char* End = EndLine(std::copy(FirstLine.begin(), FirstLine.end(), Buffer.get()));
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
