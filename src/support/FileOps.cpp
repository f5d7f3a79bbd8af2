#include "FileOps.h"

#include <cstdio>
#include <random>

bool FileIsPresent(const std::string& Path) {
  Platform::TSearchState* Search = nullptr;
  Platform::TFoundEntry Entry;
  int Code = 0;
  if (!Platform::FindFirst(Path, Search, Entry, Code)) return false;
  Platform::FindClose(Search);
  return (Entry.Attributes & Platform::AttrDirectory) == 0;
}

bool IsRegularFile(const std::string& Path, bool& Exists) {
  uint32_t Attributes = 0;
  int Code = Platform::QueryAttributes(Path, Attributes);
  Exists = Code == 0 || !Platform::IsNotFound(Code);
  return Code == 0 && (Attributes & (Platform::AttrDirectory | Platform::AttrSystem)) == 0;
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

// Calls Make with fresh names, Prefix followed by ".qv" and five hex digits,
// until one is not taken, and sets Name to the one it took; returns Make's
// last code. Short, so that a temporary fits wherever the file's own path
// nearly fills the platform's limit.
template <class TMake>
int WithFreshName(const std::string& Prefix, std::string& Name, TMake Make) {
  static std::mt19937 Random{std::random_device{}()};
  for (int Attempts = 1;; ++Attempts) {
    char Short[16];
    std::snprintf(Short, sizeof Short, ".qv%05X", static_cast<unsigned>(Random() & 0xFFFFF));
    int Code = Make(Prefix + Short);
    if (Code == 0) Name = Prefix + Short;
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
  // The file gone meanwhile, or a name too long for its folder.
  bool Refused = Platform::IsRefusal(Code) || Platform::IsNameTaken(Code) || Platform::IsNotFound(Code);
  return Refused ? TPlaced::Refused : TPlaced::Failed;
}

// Closes New's file, noting it as written. A stamp that cannot be taken
// matches nothing: what is under its name is then kept, never removed.
int CloseNewFile(TNewFile& New) {
  Platform::StampOf(New.File, New.Written);
  int Code = Platform::CloseFile(New.File);
  New.File = nullptr;
  return Code;
}

// After an exchange undone: a program that wrote to Path meanwhile wrote
// to the new file, or put its own there. Unless it is still exactly as
// written, it is kept beside the file, as Path followed by ".qv" and five
// hex digits (under its temporary name where even that fails).
void KeepUnlessAsWritten(TNewFile& New) {
  Platform::TFileStamp Now;
  if (Platform::StampOfName(New.Temporary, Now) == 0 && Now == New.Written) return;
  WithFreshName(New.Path, New.Temporary,
                [&](const std::string& Name) { return Platform::RenameNoReplace(New.Temporary, Name); });
  New.Temporary.clear();
}

}  // namespace

TWritten CreateNewFile(Platform::TFileState* Model, TNewFile& New) {
  int Code = Platform::CreateUnnamed(New.Folder, New.File);
  if (Code == Platform::Unsupported)
    Code = WithFreshName(New.Folder, New.Temporary,
                         [&](const std::string& Name) { return Platform::CreateExclusive(Name, New.File); });
  // Given its access while only its owner can read it.
  if (Code == 0) Code = Platform::CopyAccess(Model, New.File);
  if (Code == 0) return TWritten::Done;
  if (Platform::IsRefusal(Code)) return TWritten::Refused;
  if (Platform::IsNotFound(Code)) return TWritten::NameTooLong;
  return Platform::IsOutOfDescriptors(Code) ? TWritten::OutOfDescriptors : TWritten::Failed;
}

std::string TNewFile::GiveBack() {
  if (File != nullptr) CloseNewFile(*this);
  if (Placed) return "";
  if (!Temporary.empty()) Platform::DeleteName(Temporary);
  // A backup that has become the only name of the content read stays:
  // another program has put its own file under Path, or taken it away.
  Platform::TFileStamp Kept;
  bool Alone = !Backup.empty() && Platform::StampOfName(Backup, Kept) == 0 && Kept.Links < 2;
  if (Made == TBackup::Linked && Kept.Links >= 2) Platform::DeleteName(Backup);
  if (Made == TBackup::Moved) Alone = !MoveToName(Backup, Path);
  std::string Stays = Alone ? Backup : "";
  Temporary.clear();
  Backup.clear();
  return Stays;
}

TPlaced PlaceNewFile(TNewFile& New) {
  // A file without a name gets one only now, so that a kill before leaves
  // nothing behind.
  int Code = 0;
  if (New.Temporary.empty())
    Code = WithFreshName(New.Folder, New.Temporary,
                         [&](const std::string& Name) { return Platform::NameFile(New.File, Name); });
  int Closed = CloseNewFile(New);
  if (Code != 0 || Closed != 0) return Outcome(Code != 0 ? Code : Closed);
  // The old file has only its backup name where it was moved there: Path is
  // then taken unless another program has put a file there since.
  if (!HoldsFileRead(New, New.Made == TBackup::Moved ? New.Backup : New.Path)) return TPlaced::Refused;
  if (New.Made == TBackup::Moved) {
    Code = Platform::RenameNoReplace(New.Temporary, New.Path);
  } else if ((Code = Platform::ExchangeNames(New.Temporary, New.Path)) == 0) {
    // Checked again once swapped: what came out must be the file read, or
    // it goes back, so that a change made just before the exchange stays.
    if (!HoldsFileRead(New, New.Temporary)) {
      Platform::ExchangeNames(New.Temporary, New.Path);
      KeepUnlessAsWritten(New);
      return TPlaced::Refused;
    }
    Platform::DeleteName(New.Temporary);
  } else if (Code == Platform::Unsupported) {
    Code = Platform::RenameOver(New.Temporary, New.Path, New.Backup.empty() ? New.Path : New.Backup);
  }
  New.Placed = Code == 0;
  return Outcome(Code);
}
