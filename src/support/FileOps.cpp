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
  if (Platform::FindFirst(Path, Search, Entry) != 0) return false;
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

TBackup KeepAsBackup(const std::string& Path, const std::string& Backup) {
  // A backup must be another file; one held by another process could not be
  // moved, so it gets no backup either.
  if (Platform::SameName(Path, Backup) || Platform::IsInUse(Path)) return TBackup::Refused;
  int Code = Platform::LinkNoReplace(Path, Backup);
  if (Code == 0) return TBackup::Linked;
  if (Platform::IsLinkUnsupported(Code)) return MoveToName(Path, Backup) ? TBackup::Moved : TBackup::Refused;
  // A run that ended between the backup and the update left the backup name
  // on this very file: that backup is made already.
  Platform::TFileStamp File, Taken;
  bool Same = Platform::IsNameTaken(Code) && Platform::StampAt(Path, File) == 0 &&
              Platform::StampAt(Backup, Taken) == 0 && File.SameFile(Taken);
  return Same ? TBackup::AlreadyThere : TBackup::Refused;
}

void UndoBackup(const std::string& Path, const std::string& Backup, TBackup Made) {
  if (Made == TBackup::Linked) Platform::DeleteName(Backup);
  if (Made == TBackup::Moved) MoveToName(Backup, Path);
}

bool CanReplaceFile(const std::string& Path) {
  // Decided from the attributes, so that root is refused a read-only file too.
  uint32_t Attributes = 0;
  return Platform::QueryAttributes(Path, Attributes) == 0 &&
         (Attributes & (Platform::AttrReadOnly | Platform::AttrDirectory)) == 0 &&
         !Platform::IsInUse(Path);
}

int CreateSiblingFile(const std::string& Path, std::string& TempPath,
                      Platform::TFileState*& File) {
  static std::mt19937 Random{std::random_device{}()};
  std::string Folder = ExtractDirectory(Path, Platform::LeadBytes());
  int Code;
  int Attempts = 0;
  do {
    char Name[32];
    std::snprintf(Name, sizeof Name, ".quorvadel-%08X.tmp", static_cast<unsigned>(Random()));
    Code = Platform::CreateExclusive(Folder + Name, File);
    if (Code == 0) TempPath = Folder + Name;
  } while (Platform::IsNameTaken(Code) && ++Attempts < 100);
  return Code;
}

TNewFile::~TNewFile() {
  if (!Temporary.empty() && !Placed) Platform::DeleteName(Temporary);
}

TPlaced PlaceNewFile(TNewFile& New) {
  Platform::TFileStamp Now;
  if (New.AccessModel == New.Path && (Platform::StampAt(New.Path, Now) != 0 || !(Now == New.Read)))
    return TPlaced::Refused;
  int Code = Platform::RenameOver(New.Temporary, New.Path, New.AccessModel);
  New.Placed = Code == 0;
  return Code == 0 ? TPlaced::Done : Platform::IsRefusal(Code) ? TPlaced::Refused : TPlaced::Failed;
}
