// The file operations of an update, and the protocol that replaces a file:
// its new file written beside it, its backup made, the new file placed.
// None of them prints or raises: each answers a Boolean, a string or an
// outcome.
#pragma once

#include <string>

#include "FileNames.h"
#include "Platform.h"

// True when the first entry a directory search finds for Path (a pattern)
// is not a directory.
bool FileIsPresent(const std::string& Path);

// True when Path names a regular file (links followed); Exists is false
// when nothing at all is there.
bool IsRegularFile(const std::string& Path, bool& Exists);

// Renames Source to Target; false when Target exists or the rename fails.
bool MoveToName(const std::string& Source, const std::string& Target);

// How a file came to be kept under its backup name, or that it could not.
enum class TBackup { None, Refused, AlreadyThere, Linked, Unlinkable, Moved };

// Makes Backup another name of the file at Path, which keeps its own name.
// AlreadyThere when Backup is already another name of that very file (Read:
// the file as it was read): a regular file, not a link to it, and not the
// file's own name in another spelling. Unlinkable where the file system or
// the file takes no second name (the file must then be moved). Refused when
// Backup is Path itself, or names another file or a link, or the link fails.
TBackup KeepAsBackup(const std::string& Path, const std::string& Backup,
                     const Platform::TFileStamp& Read);

// True when the file at Path may be replaced: not read-only, not a
// directory, and renaming it would not be refused.
bool CanReplaceFile(const std::string& Path);

// A new file written beside the file at Path (in Folder, Path's directory
// part), and the backup made for the old file, waiting until the new file
// takes Path's name (PlaceNewFile).
// Given back before that, the new file goes, and so does a backup this run
// made, unless it has become the only name of the content read.
struct TNewFile {
  std::string Path, Folder, Backup;
  std::string Temporary;                  // the new file's name; empty while it has none
  Platform::TFileState* File = nullptr;   // open until it takes Path's name
  TBackup Made = TBackup::None;
  uint64_t Size = 0;
  Platform::TFileStamp Read;     // what Path held when it was read
  Platform::TFileStamp Written;  // the new file as it was closed
  bool Placed = false;

  // True while it may wait for other files: it has no name of its own for
  // a kill to leave behind, and the old file still has its name.
  bool CanWait() const { return Temporary.empty() && Made != TBackup::Moved; }
  // Undoes what the run made for the file, unless it has been placed: its
  // new file goes. Returns the backup name where it stays, the only name
  // left of the content read; else "".
  std::string GiveBack();

  TNewFile() = default;
  TNewFile(const TNewFile&) = delete;
  TNewFile& operator=(const TNewFile&) = delete;
  ~TNewFile() { GiveBack(); }
};

// What came of writing a new file: Done, or not, because the text is not
// the whole file (NotWhole), the folder or the file refuses it (Refused),
// its name would pass the platform's limit (NameTooLong), no descriptor is
// left for it (OutOfDescriptors), or a call failed otherwise (Failed).
enum class TWritten { Done, NotWhole, Refused, NameTooLong, OutOfDescriptors, Failed };

// Creates New's file in its folder, readable by its owner only, without a
// name where the file system allows it, else under a short fresh name; then
// gives it the access of the file Model is open on.
TWritten CreateNewFile(Platform::TFileState* Model, TNewFile& New);

enum class TPlaced { Done, Refused, Failed };

// Gives the new file the name Path in one step, replacing the old file; a
// crash leaves the old file or the new one, never half. Only the file that
// was read, unchanged, is replaced, and only while its backup is another
// name of it: another program's change or save stays, and what it wrote
// while the names were exchanged and exchanged back is kept beside the
// file (as Path followed by ".qv" and five hex digits). Refused when that is
// not so, or when Path, its folder or the length of a name refuses; Failed
// when a call fails otherwise.
TPlaced PlaceNewFile(TNewFile& New);
