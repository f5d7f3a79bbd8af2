// Quorvadel: gives SYLK files the identification record "ID;PSCALC3",
// keeping the untouched files under a backup name.
#include <string>

#include "DisplayMsg.h"
#include "FileUtils.h"
#include "Globals.h"
#include "Options.h"
#include "support/Failures.h"
#include "support/FileOps.h"
#include "support/Format.h"
#include "support/LineList.h"
#include "support/Process.h"

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

bool CheckFileExists(const std::string& Path) {
  if (FileIsPresent(Path)) return true;
  ReportError(SFileNotFound, ExitFileNotFound);
  return false;
}

// The file is read and tested before anything changes on disk. Its own name
// then holds the old content until the new content replaces it in one step;
// the backup is a second name of the old file.
void UpdateFile(const std::string& Path, LineList& SylkLines) {
  if (!CheckFileExists(Path)) return;
  if (!LoadAndRewriteHeader(Path, SylkLines)) {
    ReportError(SNotSylkFile, ExitNotSylk);
    return;
  }
  std::string AccessModel = Path;
  if (OptionTable[optBackup]->Enabled) {
    std::string Backup =
        ReplaceExtension(Path, "." + OptionTable[optBackupExt]->Value, Platform::LeadBytes());
    if (!KeepAsBackup(Path, Backup)) {
      ReportError(Format(SCantRename, {Path, Backup}), ExitCantRename);
      return;
    }
    ShowLine(Format(SRenamedAs, {Backup}));
    AccessModel = Backup;
  }
  if ((AccessModel == Path && !CanReplaceFile(Path)) || !SylkLines.SaveLines(Path, AccessModel)) {
    ReportError(Format(SCantUpdate, {Path}), ExitCantUpdate);
    return;
  }
  ShowLine(SSuccessfullyUpdated);
}

// Appends the files that Spec names to List, in Spec's folder.
void AddMatchingFiles(const std::string& Spec, LineList& List) {
  LineList Found;
  // A folder that cannot be listed, or a listing that breaks off, must not
  // pass for an empty or a whole one: files would be left out unseen.
  if (!GetFileList(Spec, ListedAttributes, Found)) Raise<EReadError>();
  std::string Folder = ExtractDirectory(Spec, Platform::LeadBytes());
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
    std::string Path = List.Get(I);
    ShowLine(Format(SProcessing, {std::to_string(I + 1), Path}));
    UpdateFile(Path, SylkLines);
  }
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
                 {nullptr, nullptr},  // Quorvadel
             },
             Entry);
}
