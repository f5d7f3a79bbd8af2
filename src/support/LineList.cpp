#include "LineList.h"

#include <algorithm>
#include <cstring>

#include "Failures.h"
#include "FileOps.h"

namespace {

// A file's text must stay below 2 GiB.
constexpr size_t MaxTextSize = 0x7FFFFFFF;
// A pipe is read in steps that start at this size and double.
constexpr size_t PipeStep = 1 << 16;

// Sixteen bytes compared at once, in the machine's vector registers where it
// has them (the compiler's vector extension, on every target).
typedef unsigned char TBlock __attribute__((vector_size(16)));

bool IsLineBreak(char Byte) { return Byte == '\r' || Byte == '\n'; }

struct TBreakCount {
  size_t Lf = 0, Cr = 0, CrLf = 0;
};

// Counts the LF bytes, the CR bytes and the CR bytes followed by LF in Text.
TBreakCount CountBreaks(const char* Text, size_t Size) {
  TBreakCount Count;
  const TBlock Lf = TBlock{} + '\n', Cr = TBlock{} + '\r';
  size_t I = 0;
  while (I + 17 <= Size) {
    // Each lane counts at most 255 blocks before the lanes are summed.
    TBlock Lfs{}, Crs{}, Pairs{};
    for (int Blocks = 0; Blocks < 255 && I + 17 <= Size; ++Blocks, I += 16) {
      TBlock Here, Next;
      std::memcpy(&Here, Text + I, 16);
      std::memcpy(&Next, Text + I + 1, 16);
      Lfs -= reinterpret_cast<TBlock>(Here == Lf);
      Crs -= reinterpret_cast<TBlock>(Here == Cr);
      Pairs -= reinterpret_cast<TBlock>((Here == Cr) & (Next == Lf));
    }
    for (int Lane = 0; Lane < 16; ++Lane) {
      Count.Lf += Lfs[Lane];
      Count.Cr += Crs[Lane];
      Count.CrLf += Pairs[Lane];
    }
  }
  for (; I < Size; ++I) {
    Count.Lf += Text[I] == '\n';
    Count.Cr += Text[I] == '\r';
    Count.CrLf += Text[I] == '\r' && I + 1 < Size && Text[I + 1] == '\n';
  }
  return Count;
}

// The position after the line break that ends the line starting at Start.
size_t NextLineStart(const char* Text, size_t Start, size_t Size) {
  size_t End = std::find_if(Text + Start, Text + Size, IsLineBreak) - Text;
  if (End < Size && Text[End] == '\r') ++End;
  if (End < Size && Text[End] == '\n') ++End;
  return End;
}

size_t LineLength(const char* Text, size_t Start, size_t Size) {
  return std::find_if(Text + Start, Text + Size, IsLineBreak) - (Text + Start);
}

// Copies From..To to Out with every line break (CR LF, a lone CR, a lone LF)
// written as CR LF; returns the end of what it wrote. Eight bytes at a time
// while Out has room for sixteen: a whole word is stored, and what follows a
// break in it is written over.
char* WriteBreaksAsCrLf(const char* From, const char* To, char* Out, const char* OutEnd) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte of a word is its lowest");
  const uint64_t Ones = 0x0101010101010101u, Highs = 0x8080808080808080u;
  // The high bit of each byte of Word equal to Byte, exact up to the first one.
  auto Equal = [&](uint64_t Word, char Byte) {
    uint64_t Other = Word ^ (Ones * static_cast<unsigned char>(Byte));
    return (Other - Ones) & ~Other & Highs;
  };
  while (To - From >= 8 && OutEnd - Out >= 16) {
    uint64_t Word;
    std::memcpy(&Word, From, 8);
    std::memcpy(Out, &Word, 8);
    uint64_t Found = Equal(Word, '\r') | Equal(Word, '\n');
    size_t Kept = Found != 0 ? __builtin_ctzll(Found) / 8 : 8;
    From += Kept;
    Out += Kept;
    if (Found == 0) continue;
    From += From[0] == '\r' && From + 1 < To && From[1] == '\n' ? 2 : 1;
    Out = std::copy_n("\r\n", 2, Out);
  }
  for (; From < To; ++From) {
    if (!IsLineBreak(*From)) {
      *Out++ = *From;
      continue;
    }
    if (*From == '\r' && From + 1 < To && From[1] == '\n') ++From;
    Out = std::copy_n("\r\n", 2, Out);
  }
  return Out;
}

char* AppendLine(char* Out, const std::string& Line) {
  Out = std::copy(Line.begin(), Line.end(), Out);
  *Out++ = '\r';
  *Out++ = '\n';
  return Out;
}

// Reads the whole file: a file of known size with one request (going on
// after a short one), a pipe in growing steps. False when a read fails or the
// text would reach MaxTextSize; a file that ends early gives what it holds.
bool ReadWhole(Platform::TFileState* File, std::unique_ptr<char[]>& Text, size_t& Size) {
  uint64_t Known = 0;
  if (Platform::SizeOf(File, Known) != 0) return false;
  bool Pipe = Known == Platform::UnknownSize;
  if (!Pipe && Known >= MaxTextSize) return false;
  size_t Capacity = Pipe ? PipeStep : static_cast<size_t>(Known);
  // Not filled first: the read fills what is used.
  Text.reset(new char[Capacity]);
  for (Size = 0;;) {
    if (Size == Capacity) {
      if (!Pipe) return true;
      if (Capacity >= MaxTextSize) return false;
      std::unique_ptr<char[]> Larger(new char[std::min(2 * Capacity, MaxTextSize)]);
      std::memcpy(Larger.get(), Text.get(), Size);
      Text = std::move(Larger);
      Capacity = std::min(2 * Capacity, MaxTextSize);
    }
    size_t Got = 0;
    if (Platform::ReadSome(File, Text.get() + Size, Capacity - Size, Got) != 0) return false;
    if (Got == 0) return true;
    Size += Got;
  }
}

// The temporary file of a save, removed on every way out unless it has
// taken the place of the file it replaces.
struct TTemporaryFile {
  std::string Path;
  bool Placed = false;
  ~TTemporaryFile() {
    if (!Path.empty() && !Placed) Platform::DeleteName(Path);
  }
};

// False when the file or its folder refuses; any other failure raises.
bool Refused(int Code, const std::string& Path) {
  if (!Platform::IsRefusal(Code)) Raise<EFCreateError>(Path);
  return false;
}

}  // namespace

void LineList::Clear() { TakeText(nullptr, 0); }

int LineList::Count() const { return TextLines + static_cast<int>(Added.size()); }

void LineList::CheckIndex(int I) const {
  if (I < 0 || I >= Count()) Raise<EStringListError>(I);
}

size_t LineList::LineStart(int Index) const {
  if (Index < CursorLine) CursorLine = 0, CursorStart = 0;
  for (; CursorLine < Index; ++CursorLine) CursorStart = NextLineStart(Text.get(), CursorStart, TextSize);
  return CursorStart;
}

std::string LineList::Get(int I) const {
  CheckIndex(I);
  if (I >= TextLines) return Added[I - TextLines];
  auto Change = Changes.find(I);
  if (Change != Changes.end()) return Change->second.Line;
  size_t Start = LineStart(I);
  return std::string(Text.get() + Start, LineLength(Text.get(), Start, TextSize));
}

void LineList::Put(int I, const std::string& Line) {
  CheckIndex(I);
  if (I >= TextLines) {
    Added[I - TextLines] = Line;
    return;
  }
  auto Change = Changes.find(I);
  if (Change != Changes.end()) {
    Change->second.Line = Line;
    return;
  }
  Changes[I] = {Line, LineLength(Text.get(), LineStart(I), TextSize)};
}

int LineList::Add(const std::string& Line) {
  Added.push_back(Line);
  return Count() - 1;
}

void LineList::TakeText(std::unique_ptr<char[]> NewText, size_t Size) {
  Text = std::move(NewText);
  const void* Nul = Size > 0 ? std::memchr(Text.get(), '\0', Size) : nullptr;
  TextSize = Nul != nullptr ? static_cast<const char*>(Nul) - Text.get() : Size;
  TBreakCount Count = CountBreaks(Text.get(), TextSize);
  BreakBytes = Count.Lf + Count.Cr;
  // Every break ends a line; a last line without one counts too.
  bool Unended = TextSize > 0 && !IsLineBreak(Text[TextSize - 1]);
  TextLines = static_cast<int>(Count.Lf + Count.Cr - Count.CrLf + Unended);
  CrLfOnly = Count.CrLf == Count.Cr && Count.CrLf == Count.Lf;
  Changes.clear();
  Added.clear();
  CursorLine = 0;
  CursorStart = 0;
}

void LineList::SplitLines(std::string_view View) {
  std::unique_ptr<char[]> Copy(new char[View.size()]);
  std::copy(View.begin(), View.end(), Copy.get());
  TakeText(std::move(Copy), View.size());
}

size_t LineList::JoinedSize() const {
  size_t Size = TextSize - BreakBytes + 2 * static_cast<size_t>(TextLines);
  for (const auto& [Index, Change] : Changes) Size += Change.Line.size() - Change.Replaced;
  for (const std::string& Line : Added) Size += Line.size() + 2;
  return Size;
}

char* LineList::ConvertRun(size_t From, size_t To, char* Out, const char* OutEnd) const {
  const char* Begin = Text.get() + From;
  const char* End = Text.get() + To;
  if (Begin == End) return Out;
  // A text whose every break is CR LF already is copied as it is.
  Out = CrLfOnly ? std::copy(Begin, End, Out) : WriteBreaksAsCrLf(Begin, End, Out, OutEnd);
  // The text's last line may have no break of its own.
  if (!IsLineBreak(End[-1])) Out = std::copy_n("\r\n", 2, Out);
  return Out;
}

char* LineList::JoinInto(char* Out, const char* OutEnd) const {
  size_t From = 0;
  for (const auto& [Index, Change] : Changes) {
    size_t Start = LineStart(Index);
    Out = AppendLine(ConvertRun(From, Start, Out, OutEnd), Change.Line);
    From = NextLineStart(Text.get(), Start, TextSize);
  }
  Out = ConvertRun(From, TextSize, Out, OutEnd);
  for (const std::string& Line : Added) Out = AppendLine(Out, Line);
  return Out;
}

std::string LineList::JoinLines() const {
  std::string Joined(JoinedSize(), '\0');
  JoinInto(Joined.data(), Joined.data() + Joined.size());
  return Joined;
}

bool LineList::LoadLines(const std::string& Path, Platform::TReadable Kinds) {
  Platform::TFileState* File = nullptr;
  if (Platform::OpenForReading(Path, Kinds, File) != 0) Raise<EFOpenError>(Path);
  std::unique_ptr<char[]> Read;
  size_t Size = 0;
  // Taken before the read, so that a change while it reads shows as one.
  bool Done = Platform::StampOf(File, LoadedStamp) == 0 && ReadWhole(File, Read, Size);
  // Everything has been read or has failed: an error of the close says nothing more.
  Platform::CloseFile(File);
  if (!Done) Raise<EReadError>();
  const char* Nul = Size > 0 ? static_cast<const char*>(std::memchr(Read.get(), '\0', Size)) : nullptr;
  bool Whole = Nul == nullptr || std::all_of(Nul, static_cast<const char*>(Read.get()) + Size, [](char Byte) { return Byte == 0; });
  TakeText(std::move(Read), Size);
  return Whole;
}

bool LineList::SaveLines(const std::string& Path, const std::string& AccessModel) const {
  size_t Size = JoinedSize();
  // Not filled first: the join writes every byte.
  std::unique_ptr<char[]> Joined(new char[Size]);
  JoinInto(Joined.get(), Joined.get() + Size);
  TTemporaryFile Temporary;
  Platform::TFileState* File = nullptr;
  if (int Code = CreateSiblingFile(Path, Temporary.Path, File)) return Refused(Code, Path);
  // Written and given its permissions while only its owner can read it, then
  // flushed, so that the rename below puts a complete file in place.
  int WriteCode = Platform::WriteAll(File, Joined.get(), Size);
  int AccessCode = WriteCode == 0 ? Platform::CopyAccess(AccessModel, File) : 0;
  if (WriteCode == 0 && AccessCode == 0) WriteCode = Platform::FlushToDisk(File);
  int CloseCode = Platform::CloseFile(File);
  if (WriteCode != 0 || CloseCode != 0) Raise<EWriteError>();
  if (AccessCode != 0) return Refused(AccessCode, Path);
  // Once the rename takes Path, the old content keeps only its other name
  // (a backup just made): that name must be on the disk first, or a power
  // cut could leave the old content with no name at all.
  if (AccessModel != Path && Platform::SyncDirectoryOf(AccessModel) != 0) Raise<EWriteError>();
  // Another program's change to the file since it was read would be lost.
  Platform::TFileStamp Now;
  if (AccessModel == Path && (Platform::StampAt(Path, Now) != 0 || !(Now == LoadedStamp))) return false;
  // Rename over the target: a crash leaves the old file or the new one, never half.
  if (int Code = Platform::RenameOver(Temporary.Path, Path, AccessModel)) return Refused(Code, Path);
  Temporary.Placed = true;
  if (Platform::SyncDirectoryOf(Path) != 0) Raise<EWriteError>();
  return true;
}
