#include "FileOps.h"

#include <cstdio>
#include <random>
#include <string_view>

namespace {

// Position of the last byte of Path that is one of Delimiters and not the
// trail byte of a double-byte character; npos when there is none.
size_t LastDelimiter(const std::string& Path, std::string_view Delimiters,
                     const Platform::TLeadBytes& LeadBytes) {
  size_t I = Path.size();
  while (I > 0) {
    --I;
    if (Path[I] == '\0' || Delimiters.find(Path[I]) == std::string_view::npos) continue;
    // The run of lead bytes before the byte: odd means the byte is a trail
    // byte, and the scan goes on before its lead byte.
    size_t Run = 0;
    while (Run < I && LeadBytes[static_cast<unsigned char>(Path[I - Run - 1])]) ++Run;
    if (Run % 2 == 0) return I;
    --I;
  }
  return std::string::npos;
}

}  // namespace

bool FileIsPresent(const std::string& Path) {
  Platform::TSearchState* Search = nullptr;
  Platform::TFoundEntry Entry;
  int Code = 0;
  if (!Platform::FindFirst(Path, Search, Entry, Code)) return false;
  Platform::FindClose(Search);
  return (Entry.Attributes & Platform::AttrDirectory) == 0;
}

std::string ReplaceExtension(const std::string& Path, const std::string& Ext,
                             const Platform::TLeadBytes& LeadBytes) {
  size_t Delimiter = LastDelimiter(Path, ExtensionDelimiters, LeadBytes);
  if (Delimiter == std::string::npos || Path[Delimiter] != '.') return Path + Ext;
  return Path.substr(0, Delimiter) + Ext;
}

std::string ExtractDirectory(const std::string& Path, const Platform::TLeadBytes& LeadBytes) {
  size_t Delimiter = LastDelimiter(Path, Platform::PathDelimiters(), LeadBytes);
  return Delimiter == std::string::npos ? std::string() : Path.substr(0, Delimiter + 1);
}

bool MoveToName(const std::string& Source, const std::string& Target) {
  return Platform::RenameNoReplace(Source, Target) == 0;
}

TBackup KeepAsBackup(const std::string& Path, const std::string& Backup,
                     const Platform::TFileStamp& Read) {
  // A backup must be another file.
  if (Platform::SameName(Path, Backup)) return TBackup::Refused;
  int Code = Platform::LinkNoReplace(Path, Backup);
  if (Code == 0) return TBackup::Linked;
  if (Platform::IsLinkUnsupported(Code)) return TBackup::Unlinkable;
  // A run that ended between the backup and the update left the backup name
  // on this very file: that backup is made already. A link there, or the
  // file's one name seen through a case-blind folder, is no backup; nor is
  // another file that a file system numbers alike (wine gives every file of
  // a second mount volume 0): the whole stamp must match.
  Platform::TFileStamp Taken;
  bool Same = Platform::IsNameTaken(Code) && Platform::StampOfName(Backup, Taken) == 0 &&
              Taken.Regular && Taken == Read && Taken.Links >= 2;
  return Same ? TBackup::AlreadyThere : TBackup::Refused;
}

bool CanReplaceFile(const std::string& Path) {
  // Decided from the attributes, so that root is refused a read-only file too.
  uint32_t Attributes = 0;
  return Platform::QueryAttributes(Path, Attributes) == 0 &&
         (Attributes & (Platform::AttrReadOnly | Platform::AttrDirectory)) == 0 &&
         Platform::CanRename(Path);
}

namespace {

// Calls Make with fresh short names in Folder until one is not taken, and
// sets Name to the one it took; returns Make's last code. Short, so that it
// fits wherever the file's own path nearly fills the platform's limit.
template <class TMake>
int WithFreshName(const std::string& Folder, std::string& Name, TMake Make) {
  static std::mt19937 Random{std::random_device{}()};
  for (int Attempts = 1;; ++Attempts) {
    char Short[16];
    std::snprintf(Short, sizeof Short, ".qv%05X", static_cast<unsigned>(Random() & 0xFFFFF));
    int Code = Make(Folder + Short);
    if (Code == 0) Name = Folder + Short;
    if (!Platform::IsNameTaken(Code) || Attempts == 100) return Code;
  }
}

// True when Name holds the file that was read, unchanged, and the backup
// made for it is still another name of that file (links followed: a link
// given as the file was read through).
bool HoldsFileRead(const TNewFile& New, const std::string& Name) {
  Platform::TFileStamp Now, Kept;
  if (Platform::StampAt(Name, Now) != 0 || !(Now == New.Read)) return false;
  return New.Backup.empty() || (Platform::StampAt(New.Backup, Kept) == 0 && Kept == New.Read);
}

TPlaced Outcome(int Code) {
  if (Code == 0) return TPlaced::Done;
  return Platform::IsRefusal(Code) || Platform::IsNameTaken(Code) ? TPlaced::Refused : TPlaced::Failed;
}

}  // namespace

int CreateNewFile(const std::string& Path, TNewFile& New) {
  std::string Folder = ExtractDirectory(Path, Platform::LeadBytes());
  int Code = Platform::CreateUnnamed(Folder, New.File);
  if (Code != Platform::Unsupported) return Code;
  return WithFreshName(Folder, New.Temporary,
                       [&](const std::string& Name) { return Platform::CreateExclusive(Name, New.File); });
}

TNewFile::~TNewFile() {
  if (File != nullptr) Platform::CloseFile(File);
  if (Placed) return;
  if (!Temporary.empty()) Platform::DeleteName(Temporary);
  // A backup that has become the only name of the content read stays:
  // another program has put its own file under Path.
  Platform::TFileStamp Kept;
  if (Made == TBackup::Linked && Platform::StampOfName(Backup, Kept) == 0 && Kept.Links >= 2)
    Platform::DeleteName(Backup);
  if (Made == TBackup::Moved) MoveToName(Backup, Path);
}

TPlaced PlaceNewFile(TNewFile& New) {
  // A file without a name gets one only now, so that a kill before leaves
  // nothing behind.
  int Code = 0;
  if (New.Temporary.empty())
    Code = WithFreshName(ExtractDirectory(New.Path, Platform::LeadBytes()), New.Temporary,
                         [&](const std::string& Name) { return Platform::NameFile(New.File, Name); });
  int Closed = Platform::CloseFile(New.File);
  New.File = nullptr;
  if (Code != 0 || Closed != 0) return Outcome(Code != 0 ? Code : Closed);
  if (New.Made == TBackup::Moved) {
    // The old file has only its backup name: Path is taken unless another
    // program has put a file there since.
    if (!HoldsFileRead(New, New.Backup)) return TPlaced::Refused;
    Code = Platform::RenameNoReplace(New.Temporary, New.Path);
  } else if ((Code = Platform::ExchangeNames(New.Temporary, New.Path)) == 0) {
    // Swapped in one step, then checked: what came out must be the file
    // read, or it goes back, so that a save made at any moment stays.
    if (!HoldsFileRead(New, New.Temporary)) {
      Platform::ExchangeNames(New.Temporary, New.Path);
      return TPlaced::Refused;
    }
    Platform::DeleteName(New.Temporary);
  } else if (Code == Platform::Unsupported) {
    if (!HoldsFileRead(New, New.Path)) return TPlaced::Refused;
    Code = Platform::RenameOver(New.Temporary, New.Path, New.Backup.empty() ? New.Path : New.Backup);
  }
  New.Placed = Code == 0;
  return Outcome(Code);
}
