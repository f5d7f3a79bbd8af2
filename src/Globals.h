// Every text the tool shows, and its exit codes. "%s" and "%d" are filled by
// plain substitution; leading spaces indent the result lines of one file.
#pragma once

constexpr const char* SBanner = "Quorvadel v.1.0 - SYLK files for SCALC3";

constexpr const char* SFileListRead = "File list read from: %s (%d files)";
constexpr const char* SFileListBuilt = "File list built (%d files)";
constexpr const char* SFileNotFound = "  ERROR! File not found";
constexpr const char* SNotSylkFile = "  ERROR! File is not a SYLK file";
constexpr const char* SCantRename = "  ERROR! Can't rename %s into %s";
constexpr const char* SCantUpdate = "  ERROR! Can't update %s";
constexpr const char* SFileListNotFound = "ERROR! SYLK file list %s not found";
constexpr const char* SProcessHalted = "  Process halted";
constexpr const char* SRenamedAs = "  renamed as %s";
constexpr const char* SSuccessfullyUpdated = "  successfully updated";
constexpr const char* SProcessing = "Processing: [%d] %s";

// The help page, after the banner and its empty line.
constexpr const char* HelpPage[] = {
    "Syntax: Quorvadel [filespec] [-Q] [-F<FileName>] [-X<FileExt>] [+B | -B] [+E | -E]",
    "",
    "Options",
    "  filespec = File name(s) to process",
    "  -? or -H = Show this help page",
    "  -Q = Quiet",
    "  -F<FileName> = File name containing the file list to process (one per line)",
    "  -X<FileExt>  = Backup extension (without dot)",
    "",
    "Switches [default]",
    "  + = On",
    "  - = Off",
    "  B = Backup existing files [+]",
    "  E = Halt on errors [-]",
    "",
};

// Exit codes of a halt; 0 is the normal end, also after errors without halt.
enum TExitCode : int {
  ExitFileNotFound = 1,
  ExitNotSylk = 2,
  ExitCantUpdate = 3,
  ExitCantRename = 4,
  ExitFileListNotFound = 5,
};
