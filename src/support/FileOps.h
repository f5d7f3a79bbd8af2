// Operations on file names and files used by the update. None of them
// prints or raises: each answers a Boolean or a string.
#pragma once

#include <string>

#include "Platform.h"

// The bytes that end an extension when scanning a name backwards.
constexpr const char* ExtensionDelimiters = ".\\:/";

// True when the first entry a directory search finds for Path (a pattern)
// is not a directory.
bool FileIsPresent(const std::string& Path);

// Path with everything from its last dot replaced by Ext when no other
// delimiter follows that dot; otherwise Path followed by Ext. A delimiter
// byte that is the trail byte of a double-byte character does not count.
std::string ReplaceExtension(const std::string& Path, const std::string& Ext,
                             const Platform::TLeadBytes& LeadBytes);

// The start of Path up to and including its last path delimiter; empty when
// Path has no directory part.
std::string ExtractDirectory(const std::string& Path, const Platform::TLeadBytes& LeadBytes);

// Renames Source to Target; false when Target exists or the rename fails.
bool MoveToName(const std::string& Source, const std::string& Target);

// How KeepAsBackup kept a file under its backup name, or that it could not.
enum class TBackup { Refused, AlreadyThere, Linked, Moved };

// Makes Backup a name of the file at Path, which keeps its own name; where
// the file system has no hard links, moves the file to Backup instead.
// AlreadyThere when Backup is already another name of the file. Refused
// when Backup is Path itself or names another file, when another process
// holds the file, or when neither can be done.
TBackup KeepAsBackup(const std::string& Path, const std::string& Backup);

// Takes back what KeepAsBackup made in this run (the link goes, a moved file
// comes back), so that the file is as it was; an error leaves the backup.
void UndoBackup(const std::string& Path, const std::string& Backup, TBackup Made);

// True when the file at Path may be replaced: not read-only, not a
// directory, not held by another process.
bool CanReplaceFile(const std::string& Path);

// Creates a new, empty file with an unused name in Path's directory and,
// on success, sets TempPath to its name. Returns 0 or the platform's error code.
int CreateSiblingFile(const std::string& Path, std::string& TempPath,
                      Platform::TFileState*& File);

// A new file written beside the file at Path, waiting to take its name once
// its content is on the disk; removed when destroyed before that.
struct TNewFile {
  std::string Path, AccessModel, Temporary;
  uint64_t Size = 0;
  Platform::TFileStamp Read;  // what Path held when it was read
  bool Placed = false;

  TNewFile() = default;
  TNewFile(const TNewFile&) = delete;
  TNewFile& operator=(const TNewFile&) = delete;
  ~TNewFile();
};

enum class TPlaced { Done, Refused, Failed };

// Gives the new file the name Path in one step, replacing the old file; a
// crash leaves the old file or the new one, never half. Refused when Path or
// its folder refuses it, or when, in place of Path itself (AccessModel is
// Path), Path no longer holds the file that was read, unchanged: another
// program's change would be lost. Failed when the rename fails otherwise.
TPlaced PlaceNewFile(TNewFile& New);
