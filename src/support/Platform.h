// The only OS-facing interface: one implementation file per platform.
// Functions that can fail return 0 or the platform's error code (errno on
// POSIX, GetLastError() on Windows). Nothing here prints or throws.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// Bytes that open a double-byte character in the system's code page.
using TLeadBytes = std::bitset<256>;

// Attribute bits of a directory entry. POSIX reports read-only only from
// QueryAttributes, and derives hidden (a dot name) and system (neither a
// regular file nor a folder).
constexpr uint32_t AttrReadOnly = 0x01;
constexpr uint32_t AttrHidden = 0x02;
constexpr uint32_t AttrSystem = 0x04;
constexpr uint32_t AttrVolumeLabel = 0x08;
constexpr uint32_t AttrDirectory = 0x10;
constexpr uint32_t AttrArchive = 0x20;

// ---- Process

// Called first: makes failures go to standard output, settles the lead bytes.
void StartProcess(int ArgC, char** ArgV);
// The command-line arguments after the program's name.
std::vector<std::string> Arguments();
// Bytes that start a switch.
const char* SwitchChars();
// The argument after which every argument is a file specification; empty
// where there is none.
const char* EndOfSwitches();
// True where the shell expands patterns: every positional argument is a
// file specification, in the order given, and one that names a file is that
// name as typed. False where only the last one counts, as a pattern.
bool ShellExpandsPatterns();
// Bytes that end a directory part of a path.
const char* PathDelimiters();
const TLeadBytes& LeadBytes();
// Converts a fixed UTF-8 text of the program to the system's code page.
std::string LocalText(const std::string& Utf8);
// The file name (no directory) of the module holding Address, and the
// module's base address; false when no loaded module holds it.
bool ModuleOfAddress(const void* Address, std::string& FileName, uintptr_t& Base);
std::string ProgramFileName();
// True when a debugger wants to see failures that nothing handled.
bool DebuggerAttached();
[[noreturn]] void Exit(int Code);

// ---- Standard output

enum class TOutputKind { Console, Stream };
// Fails when the process has no usable standard output.
int OpenStdOut(TOutputKind& Kind);
// Writes all of Data or fails.
int WriteStdOut(const char* Data, size_t Size);

// ---- Files

struct TFileState;
enum class TReadable { RegularFile, FileOrPipe };

// Which file a name holds, how big and how recent it is, how many names it
// has, and whether it is a regular file (a pipe is not).
struct TFileStamp {
  uint64_t Volume = 0, Index = 0, Size = 0;
  int64_t Time = 0;
  uint32_t Links = 0;
  bool Regular = false;
  uint64_t IndexHigh = 0;  // where a file system numbers its files with 128 bits
  bool SameFile(const TFileStamp& Other) const {
    return Volume == Other.Volume && Index == Other.Index && IndexHigh == Other.IndexHigh;
  }
  bool operator==(const TFileStamp& Other) const {
    return SameFile(Other) && Size == Other.Size && Time == Other.Time;
  }
};

// What a call returns where the file system or the platform cannot do what
// it asks: no platform error has this value.
constexpr int Unsupported = -1;
// True when Code means that the name, or its folder, does not exist, or
// that the name is too long to exist.
bool IsNotFound(int Code);
// True when Code means that the file or its folder refuses the change (no
// permission, read-only, in use), not that the machine failed.
bool IsRefusal(int Code);
// True when Code means that the name was already taken.
bool IsNameTaken(int Code);
// True when Code means that no file descriptor (handle) was left to open one.
bool IsOutOfDescriptors(int Code);
// How many more files this process may hold open at once, roughly.
size_t FreeDescriptors();

// Opens an existing file for reading, sharing it with readers and renames,
// never with a writer. Anything that is not a regular file (or a pipe, where
// allowed, whose writer it waits for; not on Windows) is refused at once.
int OpenForReading(const std::string& Path, TReadable Kinds, TFileState*& File);
// Reads at most Size bytes into Data; Got is 0 at the end of the file.
int ReadSome(TFileState* File, char* Data, size_t Size, size_t& Got);
// Creates a new file without a name in Folder (empty: the current one),
// readable by its owner only; Unsupported where the file system has no
// such files. NameFile gives it a name.
int CreateUnnamed(const std::string& Folder, TFileState*& File);
// Creates a new file that must not exist yet, readable by its owner only
// (Windows: hidden); never opens an existing file or follows a link.
int CreateExclusive(const std::string& Path, TFileState*& File);
// Gives the file made by CreateUnnamed the name Path; fails when it exists.
int NameFile(TFileState* File, const std::string& Path);
int WriteAll(TFileState* File, const char* Data, size_t Size);
// Gives File the permissions (and owner, where allowed) of the file Model
// is open on; never wider than Model's. Windows: and Model's attributes,
// which File takes when it is closed.
int CopyAccess(TFileState* Model, TFileState* File);
// The file as it is now.
int StampOf(TFileState* File, TFileStamp& Stamp);
// Links followed.
int StampAt(const std::string& Path, TFileStamp& Stamp);
// The entry Path itself: a symbolic link is not followed.
int StampOfName(const std::string& Path, TFileStamp& Stamp);
// Waits until the content of Files, and the entries of Folders, are on the
// disk: where they are few each is flushed, where they are many their file
// systems are (a flush of a whole file system also writes out other
// programs' data, and is worth it only for many files).
int MakeDurable(const std::vector<TFileState*>& Files, const std::vector<std::string>& Folders);
// Closes and releases File, also when the close reports an error.
int CloseFile(TFileState* File);

// Gives Source the name Target in one step, replacing Target even when it is
// read-only. Model (Target's file under another name, or Target itself)
// keeps its permissions and attributes. Windows: a Target that another
// program holds open, letting it be renamed, steps aside under a hidden name
// of its own, which goes once Source has its name; only where Model is
// another name.
int RenameOver(const std::string& Source, const std::string& Target, const std::string& Model);
// Renames; fails when Target exists (Source's own name included), or
// (Windows) when its full path passes the limit.
int RenameNoReplace(const std::string& Source, const std::string& Target);
// Swaps the files that the two existing names hold, in one step; Unsupported
// where the file system cannot.
int ExchangeNames(const std::string& A, const std::string& B);
// Gives the file a second name; fails when NewName exists, or (Windows)
// when its full path passes the limit.
int LinkNoReplace(const std::string& Existing, const std::string& NewName);
// True when Code means that the file takes no second name here (no hard
// links on the file system, or none allowed for this user).
bool IsLinkUnsupported(int Code);
// Removes the name Path, read-only or not, leaving the attributes of its
// file as they are.
int DeleteName(const std::string& Path);
// The attribute bits of the file at Path, links followed; read-only also
// when this process may not write it.
int QueryAttributes(const std::string& Path, uint32_t& Attributes);
// True when the file at Path may be renamed, and its name taken by another
// file, as far as its folder, the file itself and other processes go: false
// where renaming would be refused (a folder this process may not change, a
// sticky folder's file of another user, an immutable or append-only file or
// folder, a file another process holds without sharing its deletion).
bool CanRename(const std::string& Path);
// True when the two paths name the same directory entry, as the platform
// resolves them (Windows: its file system, whatever the spelling: short
// names, letter case, trailing dots and blanks, ".."), or when it cannot
// tell: B is there but cannot be resolved.
bool SameName(const std::string& A, const std::string& B);
// False where Path cannot name a file (Windows: it holds a wildcard, as a
// name outside the code page does).
bool IsFileName(const std::string& Path);

// ---- Directory search

struct TSearchState;
struct TFoundEntry {
  std::string Name;
  uint32_t Attributes = 0;
};

// Starts listing the entries that match Pattern (wildcards in its last
// component): true with the first in Entry; false with Code 0 when nothing
// matches (Pattern or its folder missing included), or with the platform's
// error code. On false no search is left open.
bool FindFirst(const std::string& Pattern, TSearchState*& State, TFoundEntry& Entry, int& Code);
// True with the next entry; false at the end of the listing, with Code 0,
// or when the listing fails, with the platform's error code.
bool FindNext(TSearchState* State, TFoundEntry& Entry, int& Code);
void FindClose(TSearchState* State);

}  // namespace Platform
