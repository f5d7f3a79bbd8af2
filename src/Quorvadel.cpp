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
// its place.
void CommitBatch() {
  for (std::string Refused; !Batch.Commit(Refused);) ReportError(Format(SCantUpdate, {Refused}), ExitCantUpdate);
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
// beside it, with the file's access. Returns 0, or the platform's code when
// the folder or the file refuses the new file or its name does not fit;
// other failures raise. IsSylk becomes false when bytes other than NUL
// follow the text's end: its lines are not the whole file.
int WriteNewFile(const std::string& Path, TTextFile& Text, TNewFile& New, bool& IsSylk) {
  New.Path = Path;
  New.Read = Text.Stamp();
  int Code = CreateNewFile(Path, New);
  if (Code == 0) IsSylk = Text.WriteRewritten(SylkIdRecord, New.File, New.Size);
  // Given its access while only its owner can read it.
  if (Code == 0 && IsSylk) Code = Platform::CopyAccess(Text.Handle(), New.File);
  if (Code != 0 && !Platform::IsRefusal(Code) && !Platform::IsNotFound(Code)) Raise<EFCreateError>(Path);
  return Code;
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
  bool KeepsBackup = OptionTable[optBackup]->Enabled;
  std::string Backup = ReplaceExtension(Path, "." + OptionTable[optBackupExt]->Value, Platform::LeadBytes());
  // Nothing is written where the file could not be renamed or replaced; a
  // folder that refuses the new file would refuse the backup's name too,
  // unlike a name that would pass the platform's length limit.
  bool Allowed = KeepsBackup ? Platform::CanRename(Path) : CanReplaceFile(Path);
  bool IsSylk = true;
  Writing = std::make_unique<TNewFile>();
  int Code = Allowed ? WriteNewFile(Path, *Text, *Writing, IsSylk) : 0;
  Text.reset();  // read: it may be linked and renamed now
  if (!IsSylk) return ReportFileError(SNotSylkFile, ExitNotSylk);
  bool Refused = !Allowed || Code != 0;
  if (Refused && (!KeepsBackup || Platform::IsNotFound(Code)))
    return ReportFileError(Format(SCantUpdate, {Path}), ExitCantUpdate);
  if (Refused || (KeepsBackup && !MakeBackup(*Writing, Backup)))
    return ReportFileError(Format(SCantRename, {Path, Backup}), ExitCantRename);
  std::vector<std::string> Lines{SSuccessfullyUpdated};
  if (KeepsBackup) Lines.insert(Lines.begin(), Format(SRenamedAs, {Backup}));
  Batch.Add(std::move(Writing), Lines);
  if (Batch.Full()) CommitBatch();
}

// True when Path names a regular file; false when nothing at all is there.
bool IsRegularFile(const std::string& Path, bool& Exists) {
  uint32_t Attributes = 0;
  int Code = Platform::QueryAttributes(Path, Attributes);
  Exists = Code == 0 || !Platform::IsNotFound(Code);
  return Code == 0 && (Attributes & (Platform::AttrDirectory | Platform::AttrSystem)) == 0;
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
  if (!Name.empty()) {
    List.Add(Name);
    return;
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
  int Count = List.Count();
  for (int I = 0; I < Count; ++I) {
    try {
      UpdateFile(I + 1, List.Get(I));
    } catch (...) {
      // The files before this one are done first, as they would have been
      // alone; then the failure goes on to its report.
      CommitBatch();
      throw;
    }
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
  // The modules in start order, after the process support; they stop in
  // reverse order.
  RunProcess(ArgC, ArgV,
             {
                 {nullptr, nullptr},  // FileUtils
                 {[] { CreateOptions(); SetDefaultOptions(); }, FreeOptions},
                 {nullptr, nullptr},  // Globals
                 {nullptr, nullptr},  // DisplayMsg
                 {nullptr, [] { Writing.reset(); Batch.GiveBack(); }},  // Quorvadel
             },
             Entry);
}
