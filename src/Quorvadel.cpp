// Quorvadel: gives SYLK files the identification record "ID;PSCALC3",
// keeping the untouched files under a backup name.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DisplayMsg.h"
#include "FileUtils.h"
#include "Globals.h"
#include "Options.h"
#include "support/Failures.h"
#include "support/FileOps.h"
#include "support/Format.h"
#include "support/LineList.h"
#include "support/Process.h"
#include "support/Wildcard.h"

namespace {

constexpr const char* SylkIdPrefix = "ID;";
constexpr const char* SylkIdRecord = "ID;PSCALC3";

// The wildcard search skips hidden and system files, directories and volume labels.
constexpr uint32_t ListedAttributes = Platform::AttrArchive;

bool HasSylkHeader(const LineList& Lines) {
  // A file without any line has no identification record.
  return Lines.Count() > 0 && Lines.Get(0).compare(0, 3, SylkIdPrefix) == 0;
}

// Loads the file into SylkLines and, when it is a SYLK file, gives it the
// new identification record. Returns whether it is one.
bool LoadAndRewriteHeader(const std::string& Path, LineList& SylkLines) {
  SylkLines.Clear();
  // Bytes after a NUL would be lost on saving: such a file is not rewritten.
  bool IsSylk = SylkLines.LoadLines(Path) && HasSylkHeader(SylkLines);
  if (IsSylk) SylkLines.Put(0, SylkIdRecord);
  return IsSylk;
}

// Up to this many files, or bytes of new content, share one flush.
constexpr size_t GroupFiles = 1000;
constexpr uint64_t GroupBytes = 64u << 20;

// The files written since the last flush, and the lines to show since, in
// order: a line that stands for a file (File set) becomes its result.
struct TGroup {
  std::vector<std::unique_ptr<TNewFile>> Files;
  std::vector<std::pair<std::string, const TNewFile*>> Lines;
  size_t Shown = 0;
  uint64_t Bytes = 0;
  bool Failed = false;  // a failure is on its way to the report: nothing more is done
} Group;

// Shows Text once the files before it are done.
void Show(const std::string& Text) {
  if (Group.Files.empty()) ShowLine(Text);
  else Group.Lines.push_back({Text, nullptr});
}

// Shows the lines waiting before the result of Stop (all of them when null);
// the files they stand for have taken their names.
void ShowUpTo(const TNewFile* Stop) {
  for (; Group.Shown < Group.Lines.size(); ++Group.Shown) {
    const auto& [Text, File] = Group.Lines[Group.Shown];
    if (File != nullptr && File == Stop) return;
    if (File == nullptr) {
      ShowLine(Text);
      continue;
    }
    if (!File->Backup.empty()) ShowLine(Format(SRenamedAs, {File->Backup}));
    ShowLine(SSuccessfullyUpdated);
  }
}

// Flushes the folders of the files From..To once each, so that their new
// names stay; the first of them takes the blame for a failure.
void SyncFolders(size_t From, size_t To) {
  std::vector<std::string> Flushed;
  for (size_t I = From; I < To; ++I) {
    const std::string& Path = Group.Files[I]->Path;
    std::string Folder = ExtractDirectory(Path, Platform::LeadBytes());
    if (std::find(Flushed.begin(), Flushed.end(), Folder) != Flushed.end()) continue;
    Flushed.push_back(Folder);
    if (Platform::SyncDirectoryOf(Path) == 0) continue;
    ShowUpTo(Group.Files[From].get());
    Group.Failed = true;
    Raise<EWriteError>();
  }
}

// What is still pending when the process ends goes back to what it was.
void GiveBackGroup() { Group = TGroup{}; }

// The group's files take their names together: one flush for all their
// contents and backup names, then each file in order, then one flush of
// their folders; their lines follow. A file that cannot take its name is
// reported at its place, as alone it would be.
void CommitGroup() {
  if (Group.Failed) return;
  std::vector<std::string> Written;
  for (const auto& File : Group.Files) Written.push_back(File->Temporary);
  if (!Written.empty() && Platform::FlushWritten(Written) != 0) {
    ShowUpTo(Group.Files[0].get());
    Group.Failed = true;
    Raise<EWriteError>();
  }
  size_t Synced = 0;
  for (size_t I = 0; I < Group.Files.size(); ++I) {
    TNewFile& File = *Group.Files[I];
    TPlaced Placed = PlaceNewFile(File);
    if (Placed == TPlaced::Done) continue;
    SyncFolders(Synced, I);
    Synced = I + 1;
    ShowUpTo(&File);
    ++Group.Shown;
    Group.Failed = Placed == TPlaced::Failed;
    if (Group.Failed) Raise<EFCreateError>(File.Path);
    ReportError(Format(SCantUpdate, {File.Path}), ExitCantUpdate);
  }
  SyncFolders(Synced, Group.Files.size());
  ShowUpTo(nullptr);
  Group = TGroup{};
}

// Reports an error of the file at hand once the files before it are done.
void ReportFileError(const std::string& Text, int Code) {
  CommitGroup();
  ReportError(Text, Code);
}

// The file is read and tested before anything changes on disk; its new
// content is written beside it, then its backup made (a second name of the
// old file); it takes the file's name with its group.
void UpdateFile(int Number, const std::string& Path, LineList& SylkLines) {
  Show(Format(SProcessing, {std::to_string(Number), Path}));
  if (!FileIsPresent(Path)) return ReportFileError(SFileNotFound, ExitFileNotFound);
  bool IsSylk = LoadAndRewriteHeader(Path, SylkLines);
  // A file met again, under any of its names, is read again once its
  // earlier update is done, as a run file by file would find it.
  auto Same = [&](const auto& File) { return File->Read.SameFile(SylkLines.LoadedStamp()); };
  if (std::any_of(Group.Files.begin(), Group.Files.end(), Same)) {
    CommitGroup();
    IsSylk = LoadAndRewriteHeader(Path, SylkLines);
  }
  if (!IsSylk) return ReportFileError(SNotSylkFile, ExitNotSylk);
  bool KeepsBackup = OptionTable[optBackup]->Enabled;
  std::string Backup = ReplaceExtension(Path, "." + OptionTable[optBackupExt]->Value, Platform::LeadBytes());
  // Nothing is written where the file could not be renamed or replaced; a
  // folder that refuses the new file would refuse the backup's name too,
  // unlike a new file whose name would pass the platform's length limit.
  auto File = std::make_unique<TNewFile>();
  bool Allowed = KeepsBackup ? Platform::CanRename(Path) : CanReplaceFile(Path);
  int Code = Allowed ? SylkLines.SaveLines(Path, *File) : 0;
  if (!Allowed || Code != 0) {
    File.reset();  // its new file goes now: a halt ends the process without unwinding
    if (KeepsBackup && !Platform::IsNotFound(Code))
      return ReportFileError(Format(SCantRename, {Path, Backup}), ExitCantRename);
    return ReportFileError(Format(SCantUpdate, {Path}), ExitCantUpdate);
  }
  if (KeepsBackup) {
    File->Backup = Backup;
    File->Made = KeepAsBackup(Path, Backup, File->Read);
    if (File->Made == TBackup::Unlinkable) {
      // Moved, the file has no name of its own until its new content takes
      // it: that is done at once, after the files before it.
      CommitGroup();
      File->Made = MoveToName(Path, Backup) ? TBackup::Moved : TBackup::Refused;
    }
    if (File->Made == TBackup::Refused) {
      File.reset();
      return ReportFileError(Format(SCantRename, {Path, Backup}), ExitCantRename);
    }
  }
  bool AtOnce = File->Made == TBackup::Moved;
  Group.Bytes += File->Size;
  Group.Lines.push_back({"", File.get()});
  Group.Files.push_back(std::move(File));
  if (AtOnce || Group.Files.size() >= GroupFiles || Group.Bytes >= GroupBytes) CommitGroup();
}

// True when Path names a regular file; false when nothing at all is there.
bool IsRegularFile(const std::string& Path, bool& Exists) {
  uint32_t Attributes = 0;
  int Code = Platform::QueryAttributes(Path, Attributes);
  Exists = Code == 0 || !Platform::IsNotFound(Code);
  return Code == 0 && (Attributes & (Platform::AttrDirectory | Platform::AttrSystem)) == 0;
}

// Appends the files that Spec names to List, in Spec's folder. Where the
// shell has expanded the patterns already, a name is taken as typed: the
// regular file it names (as given, else trimmed) and nothing else, or,
// without wildcards, a name under which nothing exists (it is not found
// later). Anything else is a pattern.
void AddMatchingFiles(const std::string& Spec, LineList& List) {
  std::string Trimmed = TrimBlanks(Spec);
  bool Exists = true;
  if (Platform::ShellExpandsPatterns()) {
    std::string Name = IsRegularFile(Spec, Exists) ? Spec
                       : IsRegularFile(Trimmed, Exists) || (!Exists && !HasWildcard(Trimmed)) ? Trimmed
                                                                                               : "";
    if (!Name.empty()) {
      List.Add(Name);
      return;
    }
  }
  LineList Found;
  // A folder that cannot be listed, or a listing that breaks off, must not
  // pass for an empty or a whole one: files would be left out unseen.
  if (!GetFileList(Trimmed, ListedAttributes, Found)) Raise<EReadError>();
  std::string Folder = ExtractDirectory(Trimmed, Platform::LeadBytes());
  for (int I = 0; I < Found.Count(); ++I) List.Add(Folder + Found.Get(I));
}

void BuildFileList(LineList& List) {
  List.Clear();
  const TOption& ListFile = *OptionTable[optFileList];
  if (ListFile.Enabled) {
    if (!FileIsPresent(ListFile.Value)) {
      ShowLine(Format(SFileListNotFound, {ListFile.Value}));
      EndProcess(ExitFileListNotFound);
    }
    // A list file's text ends at its first NUL, whatever follows it.
    List.LoadLines(ListFile.Value, Platform::TReadable::FileOrPipe);
    ShowLine(Format(SFileListRead, {ListFile.Value, std::to_string(List.Count())}));
  }
  if (OptionTable[optFileSpec]->Enabled) {
    // The wildcards' names replace those of the list file.
    List.Clear();
    for (const std::string& Spec : FileSpecs) AddMatchingFiles(Spec, List);
    ShowLine(Format(SFileListBuilt, {std::to_string(List.Count())}));
  }
}

void ProcessFileList(const LineList& List) {
  LineList SylkLines;
  int Count = List.Count();
  for (int I = 0; I < Count; ++I) {
    try {
      UpdateFile(I + 1, List.Get(I), SylkLines);
    } catch (...) {
      // The files before this one are done first, as they would have been
      // alone; then the failure goes on to its report.
      CommitGroup();
      throw;
    }
  }
  CommitGroup();
}

void Run() {
  LineList FileList;
  BuildFileList(FileList);
  ProcessFileList(FileList);
}

void Entry() {
  if (ParseCommandLine()) {
    ShowBanner();
    Run();
  } else {
    ShowHelp();
  }
}

}  // namespace

int main(int ArgC, char** ArgV) {
  // The modules in start order, after the process support; they stop in
  // reverse order.
  RunProcess(ArgC, ArgV,
             {
                 {nullptr, nullptr},  // FileUtils
                 {[] { CreateOptions(); SetDefaultOptions(); }, FreeOptions},
                 {nullptr, nullptr},  // Globals
                 {nullptr, nullptr},  // DisplayMsg
                 {nullptr, GiveBackGroup},  // Quorvadel
             },
             Entry);
}
