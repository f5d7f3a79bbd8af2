#include "LineList.h"

#include <cstring>

#include "Failures.h"
#include "FileOps.h"

namespace {

// Loaded text is indexed by 31-bit positions.
constexpr size_t MaxTextSize = 0x7FFFFFFF;

bool IsLineBreak(char Byte) { return Byte == '\r' || Byte == '\n'; }

// Calls Found with the start of every line of Text: CR LF, a lone CR and a
// lone LF each end one line; a break at the very end adds no empty line.
template <class TFound>
void ForEachLineStart(const std::string& Text, TFound Found) {
  size_t Pos = 0, Size = Text.size();
  while (Pos < Size) {
    Found(Pos);
    while (Pos < Size && !IsLineBreak(Text[Pos])) ++Pos;
    if (Pos < Size && Text[Pos] == '\r') ++Pos;
    if (Pos < Size && Text[Pos] == '\n') ++Pos;
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

void LineList::Clear() {
  Loaded.clear();
  Index.clear();
  Owned.clear();
}

int LineList::Count() const { return static_cast<int>(Index.size()); }

void LineList::CheckIndex(int I) const {
  if (I < 0 || I >= Count()) Raise<EStringListError>(I);
}

size_t LineList::LoadedLength(uint32_t Start) const {
  size_t End = Start;
  while (End < Loaded.size() && !IsLineBreak(Loaded[End])) ++End;
  return End - Start;
}

std::string LineList::Get(int I) const {
  CheckIndex(I);
  uint32_t Entry = Index[I];
  if (Entry & OwnedFlag) return Owned[Entry & ~OwnedFlag];
  return Loaded.substr(Entry, LoadedLength(Entry));
}

void LineList::Put(int I, const std::string& Line) {
  CheckIndex(I);
  if (Index[I] & OwnedFlag) {
    Owned[Index[I] & ~OwnedFlag] = Line;
    return;
  }
  Owned.push_back(Line);
  Index[I] = OwnedFlag | static_cast<uint32_t>(Owned.size() - 1);
}

int LineList::Add(const std::string& Line) {
  Owned.push_back(Line);
  Index.push_back(OwnedFlag | static_cast<uint32_t>(Owned.size() - 1));
  return Count() - 1;
}

void LineList::SplitLines(std::string Text) {
  Clear();
  size_t Nul = Text.find('\0');
  if (Nul != std::string::npos) Text.resize(Nul);
  Loaded = std::move(Text);
  size_t Lines = 0;
  ForEachLineStart(Loaded, [&](size_t) { ++Lines; });
  Index.reserve(Lines);
  ForEachLineStart(Loaded, [&](size_t Start) { Index.push_back(static_cast<uint32_t>(Start)); });
}

std::string LineList::JoinLines() const {
  size_t Size = 0;
  for (uint32_t Entry : Index)
    Size += (Entry & OwnedFlag ? Owned[Entry & ~OwnedFlag].size() : LoadedLength(Entry)) + 2;
  std::string Text(Size, '\0');
  char* Out = Text.data();
  for (uint32_t Entry : Index) {
    const char* Line = Entry & OwnedFlag ? Owned[Entry & ~OwnedFlag].data() : &Loaded[Entry];
    size_t Length = Entry & OwnedFlag ? Owned[Entry & ~OwnedFlag].size() : LoadedLength(Entry);
    std::memcpy(Out, Line, Length);
    Out[Length] = '\r';
    Out[Length + 1] = '\n';
    Out += Length + 2;
  }
  return Text;
}

bool LineList::LoadLines(const std::string& Path, Platform::TReadable Kinds) {
  Platform::TFileState* File = nullptr;
  if (Platform::OpenForReading(Path, Kinds, File) != 0) Raise<EFOpenError>(Path);
  std::string Text;
  // Taken before the read, so that a change while it reads shows as one.
  int Code = Platform::StampOf(File, LoadedStamp);
  if (Code == 0) Code = Platform::ReadAll(File, MaxTextSize, Text);
  // Everything has been read or has failed: an error of the close says nothing more.
  Platform::CloseFile(File);
  if (Code != 0) Raise<EReadError>();
  size_t Nul = Text.find('\0');
  bool Whole = Nul == std::string::npos || Text.find_first_not_of('\0', Nul) == std::string::npos;
  SplitLines(std::move(Text));
  return Whole;
}

bool LineList::SaveLines(const std::string& Path, const std::string& AccessModel) const {
  std::string Text = JoinLines();
  TTemporaryFile Temporary;
  Platform::TFileState* File = nullptr;
  if (int Code = CreateSiblingFile(Path, Temporary.Path, File)) return Refused(Code, Path);
  // Written and given its permissions while only its owner can read it, then
  // flushed, so that the rename below puts a complete file in place.
  int WriteCode = Platform::WriteAll(File, Text.data(), Text.size());
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
