// Quorvadel: gives SYLK files the identification record "ID;PSCALC3",
// keeping the untouched files under a backup name.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DisplayMsg.h"
#include "FileUtils.h"
#include "Globals.h"
#include "Options.h"
#include "support/Batch.h"
#include "support/CommandLine.h"
#include "support/Failures.h"
#include "support/FileOps.h"
#include "support/Format.h"
#include "support/LineList.h"
#include "support/Process.h"
#include "support/TextFile.h"
#include "support/Wildcard.h"

namespace {

constexpr const char* SylkIdPrefix = "ID;";
constexpr const char* SylkIdRecord = "ID;PSCALC3";

// The wildcard search skips hidden and system files, directories and volume labels.
constexpr uint32_t ListedAttributes = Platform::AttrArchive;

// The files updated, waiting for their group's flush, and the lines after them.
TBatch Batch(ShowLine);
// The new file being written, until it joins the batch.
std::unique_ptr<TNewFile> Writing;

bool HasSylkHeader(std::string_view FirstLineStart) {
  // A file without any line has no identification record.
  return FirstLineStart.substr(0, 3) == SylkIdPrefix;
}

// Places the waiting files; one that cannot take its name is reported at
// its place, after its backup name where that stays.
void CommitBatch() {
  for (std::string Refused, Kept; !Batch.Commit(Refused, Kept);) {
    if (!Kept.empty()) ShowLine(Format(SRenamedAs, {Kept}));
    ReportError(Format(SCantUpdate, {Refused}), ExitCantUpdate);
  }
}

// Commits the group once it is full or has waited its time: checked at
// every name, and between the pieces of a long file.
void CommitIfDue() {
  if (Batch.Full()) CommitBatch();
}

// Reports an error of the file at hand after the files before it. Only a
// halt makes them take their names first, as alone they would have.
void ReportFileError(const std::string& Text, int Code) {
  Writing.reset();
  if (!HaltsOnErrors()) return Batch.Show(Text);
  CommitBatch();
  ReportError(Text, Code);
}

// Opens the file at Path to read it. A file met again, under any of its
// names, is read once its earlier update is done, as a run file by file
// would find it.
std::unique_ptr<TTextFile> OpenToUpdate(const std::string& Path) {
  auto Text = std::make_unique<TTextFile>(Path);
  if (!Batch.Holds(Text->Stamp())) return Text;
  Text.reset();
  CommitBatch();
  return std::make_unique<TTextFile>(Path);
}

// Writes the file's text, its identification record replaced, to New
// beside it, with the file's access, where Allowed and where the folder and
// the file take it; the text is read through all the same, for bytes other
// than NUL after its end make it no SYLK file. Raises EFCreateError when
// the new file cannot be created for another reason.
TWritten WriteNewFile(const std::string& Path, TTextFile& Text, TNewFile& New, bool Allowed) {
  New.Path = Path;
  New.Folder = ExtractDirectory(Path, Platform::LeadBytes());
  New.Read = Text.Stamp();
  TWritten Written = Allowed ? CreateNewFile(Text.Handle(), New) : TWritten::Refused;
  if (Written == TWritten::OutOfDescriptors) {
    // The group holds most of the descriptors; placed, it gives them back.
    CommitBatch();
    Written = CreateNewFile(Text.Handle(), New);
  }
  if (Written == TWritten::OutOfDescriptors || Written == TWritten::Failed) Raise<EFCreateError>(Path);
  bool Whole = Text.WriteRewritten(SylkIdRecord, Written == TWritten::Done ? New.File : nullptr, New.Size, CommitIfDue);
  return Whole ? Written : TWritten::NotWhole;
}

// Makes Backup another name of the old file or, where it can have none,
// moves the file there: its new content then takes its name at once, after
// the files before it. False when neither can be done.
bool MakeBackup(TNewFile& New, const std::string& Backup) {
  New.Made = KeepAsBackup(New.Path, Backup, New.Read);
  if (New.Made == TBackup::Unlinkable) {
    CommitBatch();
    New.Made = MoveToName(New.Path, Backup) ? TBackup::Moved : TBackup::Refused;
  }
  if (New.Made != TBackup::Refused) New.Backup = Backup;
  return New.Made != TBackup::Refused;
}

// The file is read and tested before anything changes on disk: its new
// content is written beside it, then its backup made (a second name of the
// old file), and it takes the file's name with its group.
void UpdateFile(int Number, const std::string& Path) {
  Batch.Show(Format(SProcessing, {std::to_string(Number), Path}));
  if (!FileIsPresent(Path)) return ReportFileError(SFileNotFound, ExitFileNotFound);
  if (!Platform::IsFileName(Path)) return ReportFileError(Format(SCantUpdate, {Path}), ExitCantUpdate);
  std::unique_ptr<TTextFile> Text = OpenToUpdate(Path);
  if (!HasSylkHeader(Text->FirstLineHead())) {
    Text.reset();  // closed first: a halt ends the process inside the report
    return ReportFileError(SNotSylkFile, ExitNotSylk);
  }
  bool KeepsBackup = OptionTable[optBackup].Enabled;
  std::string Backup = ReplaceExtension(Path, "." + OptionTable[optBackupExt].Value, Platform::LeadBytes());
  // Nothing is written where the file could not be renamed or replaced.
  bool Allowed = KeepsBackup ? Platform::CanRename(Path) : CanReplaceFile(Path);
  Writing = std::make_unique<TNewFile>();
  TWritten Written = WriteNewFile(Path, *Text, *Writing, Allowed);
  Text.reset();  // read: it may be linked and renamed now
  if (Written == TWritten::NotWhole) return ReportFileError(SNotSylkFile, ExitNotSylk);
  // A folder that refuses the new file would refuse the backup's name too,
  // unlike a name that would pass the platform's length limit.
  if (Written == TWritten::NameTooLong || (Written == TWritten::Refused && !KeepsBackup))
    return ReportFileError(Format(SCantUpdate, {Path}), ExitCantUpdate);
  if (Written == TWritten::Refused || (KeepsBackup && !MakeBackup(*Writing, Backup)))
    return ReportFileError(Format(SCantRename, {Path, Backup}), ExitCantRename);
  std::vector<std::string> Lines{SSuccessfullyUpdated};
  if (KeepsBackup) Lines.insert(Lines.begin(), Format(SRenamedAs, {Backup}));
  Batch.Add(std::move(Writing), Lines);
}

// The name Spec stands for where the shell has expanded the patterns
// already: the regular file it names, as given, else trimmed; or, without
// wildcards, a name under which nothing exists (it is not found later).
// Empty where Spec is a pattern.
std::string NameAsTyped(const std::string& Spec, const std::string& Trimmed) {
  bool Exists = true;
  if (IsRegularFile(Spec, Exists)) return Spec;
  if (IsRegularFile(Trimmed, Exists) || (!Exists && !HasWildcard(Trimmed))) return Trimmed;
  return "";
}

// Appends the files that Spec names to List, in Spec's folder.
void AddMatchingFiles(const std::string& Spec, LineList& List) {
  std::string Trimmed = TrimBlanks(Spec);
  std::string Name = Platform::ShellExpandsPatterns() ? NameAsTyped(Spec, Trimmed) : "";
  if (!Name.empty()) return List.Add(Name);
  LineList Found;
  // A folder that cannot be listed, or a listing that breaks off, must not
  // pass for an empty or a whole one: files would be left out unseen.
  if (!GetFileList(Trimmed, ListedAttributes, Found)) Raise<EReadError>();
  std::string Folder = ExtractDirectory(Trimmed, Platform::LeadBytes());
  for (int I = 0; I < Found.Count(); ++I) List.Add(Folder + Found.Get(I));
}

void BuildFileList(LineList& List) {
  List.Clear();
  const TOption& ListFile = OptionTable[optFileList];
  if (ListFile.Enabled) {
    if (!FileIsPresent(ListFile.Value)) {
      ShowLine(Format(SFileListNotFound, {ListFile.Value}));
      EndProcess(ExitFileListNotFound);
    }
    // A list file's text ends at its first NUL, whatever follows it.
    List.LoadLines(ListFile.Value, Platform::TReadable::FileOrPipe);
    ShowLine(Format(SFileListRead, {ListFile.Value, std::to_string(List.Count())}));
  }
  if (OptionTable[optFileSpec].Enabled) {
    // The wildcards' names replace those of the list file.
    List.Clear();
    for (const std::string& Spec : FileSpecs) AddMatchingFiles(Spec, List);
    ShowLine(Format(SFileListBuilt, {std::to_string(List.Count())}));
  }
}

void ProcessFileList(const LineList& List) {
  try {
    for (int I = 0; I < List.Count(); ++I) {
      CommitIfDue();
      UpdateFile(I + 1, List.Get(I));
    }
  } catch (...) {
    // The files before the failing one are done first, as they would have
    // been alone; then the failure goes on to its report.
    CommitBatch();
    throw;
  }
  CommitBatch();
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
  // The modules that start or stop anything, in start order, after the
  // process support; they stop in reverse order.
  RunProcess(ArgC, ArgV,
             {
                 {[] { CreateOptions(); SetDefaultOptions(); }, nullptr},  // Options
                 {nullptr, [] { Writing.reset(); Batch.GiveBack(); }},   // Quorvadel
             },
             Entry);
}
