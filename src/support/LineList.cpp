#include "LineList.h"

#include <algorithm>
#include <cstring>

#include "Failures.h"
#include "FileOps.h"

namespace {

// The largest file read: 2 GiB and more are refused.
constexpr size_t MaxTextSize = 0x7FFFFFFF;
// A pipe is read in steps that start at this size and double.
constexpr size_t PipeStep = 1 << 16;

// Sixteen bytes compared at once, in the machine's vector registers where it
// has them (the compiler's vector extension, on every target).
typedef unsigned char TBlock __attribute__((vector_size(16)));

bool IsLineBreak(char Byte) { return Byte == '\r' || Byte == '\n'; }

// Whether any lane of a comparison's result is set.
bool Any(TBlock Lanes) {
  uint64_t Halves[2];
  std::memcpy(Halves, &Lanes, 16);
  return (Halves[0] | Halves[1]) != 0;
}

struct TScan {
  size_t End = 0, Lf = 0, Cr = 0, CrLf = 0;
};

// Finds where the text ends (its first NUL, or Size) and counts before that
// the LF bytes, the CR bytes and the CR bytes followed by LF.
TScan ScanText(const char* Text, size_t Size) {
  TScan Scan;
  const TBlock Lf = TBlock{} + '\n', Cr = TBlock{} + '\r', Nul = TBlock{};
  size_t I = 0;
  for (bool NulAhead = false; !NulAhead && I + 17 <= Size;) {
    // Each lane counts at most 255 blocks before the lanes are summed.
    TBlock Lfs{}, Crs{}, Pairs{};
    for (int Blocks = 0; Blocks < 255 && I + 17 <= Size; ++Blocks, I += 16) {
      TBlock Here, Next;
      std::memcpy(&Here, Text + I, 16);
      std::memcpy(&Next, Text + I + 1, 16);
      if ((NulAhead = Any(reinterpret_cast<TBlock>(Here == Nul)))) break;
      Lfs -= reinterpret_cast<TBlock>(Here == Lf);
      Crs -= reinterpret_cast<TBlock>(Here == Cr);
      Pairs -= reinterpret_cast<TBlock>((Here == Cr) & (Next == Lf));
    }
    for (int Lane = 0; Lane < 16; ++Lane) {
      Scan.Lf += Lfs[Lane];
      Scan.Cr += Crs[Lane];
      Scan.CrLf += Pairs[Lane];
    }
  }
  for (; I < Size && Text[I] != '\0'; ++I) {
    Scan.Lf += Text[I] == '\n';
    Scan.Cr += Text[I] == '\r';
    Scan.CrLf += Text[I] == '\r' && I + 1 < Size && Text[I + 1] == '\n';
  }
  Scan.End = I;
  return Scan;
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
// written as CR LF; returns the end of what it wrote. Sixteen bytes at a time
// while Out has room for eighteen: a whole block is stored, and what follows
// a break in it is written over.
char* WriteBreaksAsCrLf(const char* From, const char* To, char* Out, const char* OutEnd) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte of a block is its lowest");
  const TBlock Lf = TBlock{} + '\n', Cr = TBlock{} + '\r';
  while (To - From >= 16 && OutEnd - Out >= 18) {
    TBlock Block;
    std::memcpy(&Block, From, 16);
    std::memcpy(Out, &Block, 16);
    auto Breaks = (Block == Lf) | (Block == Cr);
    uint64_t Halves[2];
    std::memcpy(Halves, &Breaks, 16);
    size_t Kept = Halves[0] != 0 ? __builtin_ctzll(Halves[0]) / 8
                  : Halves[1] != 0 ? 8 + __builtin_ctzll(Halves[1]) / 8 : 16;
    From += Kept;
    Out += Kept;
    if (Kept == 16) continue;
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

// Moves From..To so that it ends at OutEnd, from its end backwards, with
// every line break written as CR LF; returns where it now starts. The place
// may lie over the text as long as no byte moves down. Sixteen bytes at a
// time: while the bytes land sixteen or more above where they were, each
// stretch between breaks goes as one block of sixteen, clear of the bytes
// still to move; closer, only the stretch's own bytes move.
char* MoveBreaksAsCrLfBack(const char* From, const char* To, char* OutEnd) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte of a block is its lowest");
  const TBlock Lf = TBlock{} + '\n', Cr = TBlock{} + '\r';
  char* Out = OutEnd;
  while (To - From >= 17) {
    const char* Start = To - 16;
    TBlock Block;
    std::memcpy(&Block, Start, 16);
    auto Breaks = (Block == Lf) | (Block == Cr);
    // The breaks as the high bit of their byte, lanes 0-7 and 8-15.
    uint64_t Halves[2];
    std::memcpy(Halves, &Breaks, 16);
    Halves[0] &= 0x8080808080808080u;
    Halves[1] &= 0x8080808080808080u;
    bool Clear = Out - To >= 32 && Start - From >= 16;
    int End = 16;  // the end of the stretch at hand, as a lane
    for (;;) {
      int Lane = Halves[1] != 0 ? 8 + (63 - __builtin_clzll(Halves[1])) / 8
                 : Halves[0] != 0 ? (63 - __builtin_clzll(Halves[0])) / 8 : -1;
      // The stretch after the break at Lane (after the block's start at -1).
      size_t Length = End - Lane - 1;
      if (Clear) std::memcpy(Out - 16, Start + End - 16, 16);
      else std::memmove(Out - Length, Start + Lane + 1, Length);
      Out -= Length;
      if (Lane < 0) break;
      // A CR before the LF belongs to it, also across the block's start.
      End = Lane - (Start[Lane] == '\n' && Start[Lane - 1] == '\r');
      for (int Half = 0; Half < 2; ++Half) {
        int Below = std::min(std::max(End - 8 * Half, 0), 8);
        Halves[Half] &= Below == 8 ? ~uint64_t{0} : (uint64_t{1} << 8 * Below) - 1;
      }
      Out = std::copy_n("\r\n", 2, Out - 2) - 2;
      if (End < 0) break;
    }
    To = Start + std::min(End, 0);
  }
  while (To > From) {
    char Byte = *--To;
    if (!IsLineBreak(Byte)) {
      *--Out = Byte;
      continue;
    }
    if (Byte == '\n' && To > From && To[-1] == '\r') --To;
    Out = std::copy_n("\r\n", 2, Out - 2) - 2;
  }
  return Out;
}

// Room for a text to grow by an eighth: the CR LF form of lines of eight
// bytes or more fits in place.
size_t WithRoom(size_t Size) { return Size + Size / 8 + 64; }

char* AppendLine(char* Out, const std::string& Line) {
  Out = std::copy(Line.begin(), Line.end(), Out);
  *Out++ = '\r';
  *Out++ = '\n';
  return Out;
}

// Reads the whole file into a buffer with room to grow: a file of known size
// with one request (going on after a short one), a pipe in growing steps.
// False when a read fails or the text would pass MaxTextSize; a file that
// ends early gives what it holds.
bool ReadWhole(Platform::TFileState* File, std::unique_ptr<char[]>& Text, size_t& Size, size_t& Capacity) {
  uint64_t Known = 0;
  if (Platform::SizeOf(File, Known) != 0) return false;
  bool Pipe = Known == Platform::UnknownSize;
  if (!Pipe && Known > MaxTextSize) return false;
  size_t Wanted = Pipe ? PipeStep : static_cast<size_t>(Known);
  Capacity = WithRoom(Wanted);
  // Not filled first: the read fills what is used.
  Text.reset(new char[Capacity]);
  Platform::AdviseLargeBlock(Text.get(), Capacity);
  for (Size = 0;;) {
    if (Size == Wanted) {
      if (!Pipe) return true;
      if (Capacity >= MaxTextSize) return false;
      Wanted = std::min(2 * Capacity, MaxTextSize);
      std::unique_ptr<char[]> Larger(new char[Wanted]);
      std::memcpy(Larger.get(), Text.get(), Size);
      Text = std::move(Larger);
      Capacity = Wanted;
    }
    size_t Got = 0;
    if (Platform::ReadSome(File, Text.get() + Size, Wanted - Size, Got) != 0) return false;
    if (Got == 0) return true;
    Size += Got;
  }
}

// Code itself when the file or its folder refuses, or the name does not
// fit there; any other failure raises.
int Refusal(int Code, const std::string& Path) {
  if (!Platform::IsRefusal(Code) && !Platform::IsNotFound(Code)) Raise<EFCreateError>(Path);
  return Code;
}

}  // namespace

void LineList::Clear() { TakeText(nullptr, 0, 0); }

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

void LineList::TakeText(std::unique_ptr<char[]> NewText, size_t Size, size_t Capacity) {
  Text = std::move(NewText);
  TextCapacity = Capacity;
  TScan Scan = ScanText(Text.get(), Size);
  TextSize = Scan.End;
  BreakBytes = Scan.Lf + Scan.Cr;
  // Every break ends a line; a last line without one counts too.
  bool Unended = TextSize > 0 && !IsLineBreak(Text[TextSize - 1]);
  TextLines = static_cast<int>(Scan.Lf + Scan.Cr - Scan.CrLf + Unended);
  CrLfOnly = Scan.CrLf == Scan.Cr && Scan.CrLf == Scan.Lf;
  Changes.clear();
  Added.clear();
  CursorLine = 0;
  CursorStart = 0;
}

void LineList::SplitLines(std::string_view View) {
  std::unique_ptr<char[]> Copy(new char[WithRoom(View.size())]);
  std::copy(View.begin(), View.end(), Copy.get());
  TakeText(std::move(Copy), View.size(), WithRoom(View.size()));
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

void LineList::JoinText() {
  // The stretches of untouched lines between the lines given by Put, and
  // where each goes; the text's last line may have no break of its own.
  struct TRun {
    size_t From, To, Out, OutEnd;
    const std::string* Next;
  };
  std::vector<TRun> Runs;
  size_t Size = JoinedSize(), From = 0, Out = 0;
  bool Unended = TextSize > 0 && !IsLineBreak(Text[TextSize - 1]);
  for (const auto& [Index, Change] : Changes) {
    size_t Start = LineStart(Index);
    TScan Scan = ScanText(Text.get() + From, Start - From);
    size_t OutEnd = Out + Start - From + Scan.Lf + Scan.Cr - 2 * Scan.CrLf;
    Runs.push_back({From, Start, Out, OutEnd, &Change.Line});
    Out = OutEnd + Change.Line.size() + 2;
    From = NextLineStart(Text.get(), Start, TextSize);
  }
  size_t Appended = 0;
  for (const std::string& Line : Added) Appended += Line.size() + 2;
  Runs.push_back({From, TextSize, Out, Size - Appended, nullptr});
  // In place where no byte moves down (from the end backwards) or, in a
  // text whose breaks are all CR LF, none moves up (from the start); else
  // in a new buffer, which a line given with a break of its own needs too:
  // the text read back then splits it there.
  auto MovesUp = [](const TRun& Run) { return Run.Out >= Run.From; };
  auto MovesDown = [](const TRun& Run) { return Run.Out <= Run.From; };
  bool Fits = Size <= TextCapacity;
  bool Backward = Fits && std::all_of(Runs.begin(), Runs.end(), MovesUp);
  bool Forward = Fits && !Backward && CrLfOnly && std::all_of(Runs.begin(), Runs.end(), MovesDown);
  auto HasBreak = [](const std::string& Line) { return Line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; };
  bool Broken = std::any_of(Added.begin(), Added.end(), HasBreak) ||
                std::any_of(Changes.begin(), Changes.end(), [&](const auto& Change) { return HasBreak(Change.second.Line); });
  if (Broken || (!Backward && !Forward)) {
    std::unique_ptr<char[]> Joined(new char[WithRoom(Size)]);
    Platform::AdviseLargeBlock(Joined.get(), WithRoom(Size));
    JoinInto(Joined.get(), Joined.get() + Size);
    TakeText(std::move(Joined), Size, WithRoom(Size));
    return;
  }
  Unended = Unended && Runs.back().From < Runs.back().To;
  char* Base = Text.get();
  if (Backward) {
    char* End = Base + Size;
    for (auto Line = Added.rbegin(); Line != Added.rend(); ++Line) End = AppendLine(End - Line->size() - 2, *Line) - Line->size() - 2;
    for (auto Run = Runs.rbegin(); Run != Runs.rend(); ++Run) {
      if (Run->Next != nullptr) AppendLine(Base + Run->OutEnd, *Run->Next);
      char* RunEnd = Base + Run->OutEnd;
      if (Run->Next == nullptr && Unended) RunEnd = std::copy_n("\r\n", 2, RunEnd - 2) - 2;
      MoveBreaksAsCrLfBack(Base + Run->From, Base + Run->To, RunEnd);
    }
  } else {
    for (const TRun& Run : Runs) {
      std::memmove(Base + Run.Out, Base + Run.From, Run.To - Run.From);
      if (Run.Next != nullptr) AppendLine(Base + Run.OutEnd, *Run.Next);
    }
    char* End = Base + Runs.back().OutEnd;
    if (Unended) End = std::copy_n("\r\n", 2, End - 2);
    for (const std::string& Line : Added) End = AppendLine(End, Line);
  }
  // The same lines, each now ended by CR LF.
  TextLines = Count();
  TextSize = Size;
  BreakBytes = 2 * static_cast<size_t>(TextLines);
  CrLfOnly = true;
  Changes.clear();
  Added.clear();
  CursorLine = 0;
  CursorStart = 0;
}

std::string LineList::JoinLines() {
  JoinText();
  return std::string(Text.get(), TextSize);
}

bool LineList::LoadLines(const std::string& Path, Platform::TReadable Kinds) {
  Platform::TFileState* File = nullptr;
  if (Platform::OpenForReading(Path, Kinds, File) != 0) Raise<EFOpenError>(Path);
  std::unique_ptr<char[]> Read;
  size_t Size = 0, Capacity = 0;
  // Taken before the read, so that a change while it reads shows as one.
  bool Done = Platform::StampOf(File, Loaded) == 0 && ReadWhole(File, Read, Size, Capacity);
  // Everything has been read or has failed: an error of the close says nothing more.
  Platform::CloseFile(File);
  if (!Done) Raise<EReadError>();
  TakeText(std::move(Read), Size, Capacity);
  // The text ends at its first NUL: the file is whole when only NULs follow.
  return std::all_of(Text.get() + TextSize, Text.get() + Size, [](char Byte) { return Byte == 0; });
}

int LineList::SaveLines(const std::string& Path, TNewFile& New) {
  JoinText();
  New.Path = Path;
  New.Read = Loaded;
  New.Size = TextSize;
  Platform::TFileState* File = nullptr;
  if (int Code = CreateSiblingFile(Path, New.Temporary, File)) return Refusal(Code, Path);
  // Written and given its permissions while only its owner can read it.
  int WriteCode = Platform::WriteAll(File, Text.get(), TextSize);
  int AccessCode = WriteCode == 0 ? Platform::CopyAccess(Path, File) : 0;
  int CloseCode = Platform::CloseFile(File);
  if (WriteCode != 0 || CloseCode != 0) Raise<EWriteError>();
  return AccessCode == 0 ? 0 : Refusal(AccessCode, Path);
}
