// POSIX stand-in for the Win32 calls the tool is built on.
#include "Platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>

#include "Wildcard.h"

// Present only when the leak checker is linked in (a sanitized test build):
// _exit skips the check it would make at a normal exit, so it runs in Exit.
extern "C" [[gnu::weak]] void __lsan_do_leak_check();

namespace Platform {

namespace {

std::vector<std::string> ProcessArguments;
std::string ProgramArgument;

std::string AfterLastSlash(const std::string& Path) {
  return Path.substr(Path.rfind('/') + 1);
}

std::string DirectoryOf(const std::string& Path) {
  size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  return Slash == 0 ? "/" : Path.substr(0, Slash);
}

// Attribute bits of an entry as the Windows listing would report them.
// (Read-only is known only by QueryAttributes.)
uint32_t AttributesOf(const std::string& Name, mode_t Mode) {
  uint32_t Attributes = S_ISDIR(Mode) ? AttrDirectory : S_ISREG(Mode) ? AttrArchive : AttrSystem;
  if (Name.size() > 0 && Name[0] == '.' && Name != "." && Name != "..") Attributes |= AttrHidden;
  return Attributes;
}

// Symbolic links are followed; one that leads nowhere is neither a file nor
// a directory, and neither is an entry removed since it was listed. Any other
// failure to look at an entry is a failure of the listing, not a reason to
// leave the entry out unseen.
int AttributesAt(const std::string& Path, const std::string& Name, uint32_t& Attributes) {
  struct stat Info;
  bool Seen = stat(Path.c_str(), &Info) == 0 || lstat(Path.c_str(), &Info) == 0;
  if (!Seen && errno != ENOENT) return errno;
  Attributes = Seen ? AttributesOf(Name, Info.st_mode) : AttrSystem;
  return 0;
}

// Writes all of Data, going on after a short or interrupted write.
int WriteDescriptor(int Descriptor, const char* Data, size_t Size) {
  while (Size > 0) {
    ssize_t Written = write(Descriptor, Data, Size);
    if (Written < 0 && errno == EINTR) continue;
    if (Written <= 0) return Written < 0 ? errno : EIO;
    Data += Written;
    Size -= static_cast<size_t>(Written);
  }
  return 0;
}

}  // namespace

void StartProcess(int ArgC, char** ArgV) {
  // A closed pipe must be a failed write, not the end of the process.
  signal(SIGPIPE, SIG_IGN);
  // A group of new files stays open until its files take their names.
  struct rlimit Files;
  if (getrlimit(RLIMIT_NOFILE, &Files) == 0 && Files.rlim_cur < Files.rlim_max) {
    Files.rlim_cur = Files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &Files);
  }
  if (ArgC > 0) ProgramArgument = ArgV[0];
  for (int I = 1; I < ArgC; ++I) ProcessArguments.emplace_back(ArgV[I]);
}

std::vector<std::string> Arguments() { return ProcessArguments; }

const char* SwitchChars() { return "-"; }

const char* EndOfSwitches() { return "--"; }

bool ShellExpandsPatterns() { return true; }

const char* PathDelimiters() { return "/"; }

const TLeadBytes& LeadBytes() {
  static const TLeadBytes None;
  return None;
}

std::string LocalText(const std::string& Utf8) { return Utf8; }

bool ModuleOfAddress(const void* Address, std::string& FileName, uintptr_t& Base) {
  Dl_info Info, Own;
  if (dladdr(Address, &Info) == 0 || Info.dli_fbase == nullptr) return false;
  Base = reinterpret_cast<uintptr_t>(Info.dli_fbase);
  bool InProgram = dladdr(reinterpret_cast<const void*>(&StartProcess), &Own) != 0 &&
                   Own.dli_fbase == Info.dli_fbase;
  FileName = InProgram || Info.dli_fname == nullptr ? ProgramFileName()
                                                    : AfterLastSlash(Info.dli_fname);
  return true;
}

std::string ProgramFileName() {
  char Buffer[4096];
  ssize_t Length = readlink("/proc/self/exe", Buffer, sizeof Buffer);
  return AfterLastSlash(Length > 0 ? std::string(Buffer, Length) : ProgramArgument);
}

bool DebuggerAttached() { return false; }

void Exit(int Code) {
  if (__lsan_do_leak_check != nullptr) __lsan_do_leak_check();
  _exit(Code);
}

int OpenStdOut(TOutputKind& Kind) {
  struct stat Info;
  if (fstat(STDOUT_FILENO, &Info) != 0) return errno;
  Kind = S_ISCHR(Info.st_mode) ? TOutputKind::Console : TOutputKind::Stream;
  return 0;
}

int WriteStdOut(const char* Data, size_t Size) { return WriteDescriptor(STDOUT_FILENO, Data, Size); }

struct TFileState {
  int Descriptor;
};

bool IsNotFound(int Code) { return Code == ENOENT || Code == ENOTDIR || Code == ENAMETOOLONG; }

bool IsRefusal(int Code) { return Code == EACCES || Code == EPERM || Code == EROFS; }

bool IsOutOfDescriptors(int Code) { return Code == EMFILE || Code == ENFILE; }

size_t FreeDescriptors() {
  // Counted one call a descriptor, so only where the limit is low enough to matter.
  struct rlimit Files;
  if (getrlimit(RLIMIT_NOFILE, &Files) != 0 || Files.rlim_cur > 65536) return SIZE_MAX;
  size_t Free = 0;
  for (rlim_t Descriptor = 0; Descriptor < Files.rlim_cur; ++Descriptor)
    Free += fcntl(static_cast<int>(Descriptor), F_GETFD) < 0;
  return Free;
}

int OpenForReading(const std::string& Path, TReadable Kinds, TFileState*& File) {
  // A FIFO given as a list is opened so that it waits for its writer, who
  // may come second; anything else opens at once, so that a FIFO or a device
  // given as a SYLK file cannot hang the run.
  struct stat Named;
  bool Waits = Kinds == TReadable::FileOrPipe && stat(Path.c_str(), &Named) == 0 && S_ISFIFO(Named.st_mode);
  int Descriptor = open(Path.c_str(), O_RDONLY | (Waits ? 0 : O_NONBLOCK) | O_NOCTTY | O_CLOEXEC);
  if (Descriptor < 0) return errno;
  struct stat Info;
  int Code = fstat(Descriptor, &Info) != 0 ? errno : 0;
  bool Regular = Code == 0 && S_ISREG(Info.st_mode);
  // A pipe is read only as opened to wait; one that took a file's place since is not.
  if (Code == 0 && !Regular && !(Waits && S_ISFIFO(Info.st_mode))) Code = S_ISDIR(Info.st_mode) ? EISDIR : EINVAL;
  if (Code != 0) {
    close(Descriptor);
    return Code;
  }
  File = new TFileState{Descriptor};
  return 0;
}

int ReadSome(TFileState* File, char* Data, size_t Size, size_t& Got) {
  ssize_t Count;
  do Count = read(File->Descriptor, Data, Size);
  while (Count < 0 && errno == EINTR);
  if (Count < 0) return errno;
  Got = static_cast<size_t>(Count);
  return 0;
}

int CreateUnnamed(const std::string& Folder, TFileState*& File) {
  // The file is named later through /proc: without it, the caller names it
  // at once.
  static const bool ProcHasFiles = access("/proc/self/fd", X_OK) == 0;
  if (!ProcHasFiles) return Unsupported;
  int Descriptor = open(Folder.empty() ? "." : Folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (Descriptor < 0) return errno == EOPNOTSUPP || errno == EISDIR ? Unsupported : errno;
  File = new TFileState{Descriptor};
  return 0;
}

int CreateExclusive(const std::string& Path, TFileState*& File) {
  int Descriptor =
      open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (Descriptor < 0) return errno;
  File = new TFileState{Descriptor};
  return 0;
}

int NameFile(TFileState* File, const std::string& Path) {
  // The descriptor itself where the kernel lets this user link it (newer
  // ones do), else through /proc, which costs a path's lookup more.
  if (linkat(File->Descriptor, "", AT_FDCWD, Path.c_str(), AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return errno;
  std::string Self = "/proc/self/fd/" + std::to_string(File->Descriptor);
  return linkat(AT_FDCWD, Self.c_str(), AT_FDCWD, Path.c_str(), AT_SYMLINK_FOLLOW) != 0 ? errno : 0;
}

bool IsNameTaken(int Code) { return Code == EEXIST; }

int WriteAll(TFileState* File, const char* Data, size_t Size) {
  return WriteDescriptor(File->Descriptor, Data, Size);
}

int CopyAccess(TFileState* Model, TFileState* File) {
  struct stat Wanted, Now;
  if (fstat(Model->Descriptor, &Wanted) != 0 || fstat(File->Descriptor, &Now) != 0) return errno;
  mode_t Mode = Wanted.st_mode & 07777;
  // Only root may give a file away. Without its owner the file keeps the
  // others' bits, which the owner then has too; a group we cannot keep must
  // not gain the original group's rights.
  if ((Wanted.st_uid != Now.st_uid || Wanted.st_gid != Now.st_gid) &&
      fchown(File->Descriptor, Wanted.st_uid, Wanted.st_gid) != 0 &&
      fchown(File->Descriptor, static_cast<uid_t>(-1), Wanted.st_gid) != 0)
    Mode &= ~070;
  return fchmod(File->Descriptor, Mode) != 0 ? errno : 0;
}

namespace {

// Stat is fstat, stat or lstat, called on Subject.
template <class TSubject>
int StampWith(int (*Stat)(TSubject, struct stat*), TSubject Subject, TFileStamp& Stamp) {
  struct stat Info;
  if (Stat(Subject, &Info) != 0) return errno;
  Stamp = {static_cast<uint64_t>(Info.st_dev), static_cast<uint64_t>(Info.st_ino),
           static_cast<uint64_t>(Info.st_size),
           static_cast<int64_t>(Info.st_mtim.tv_sec) * 1000000000 + Info.st_mtim.tv_nsec,
           static_cast<uint32_t>(Info.st_nlink), S_ISREG(Info.st_mode)};
  return 0;
}

}  // namespace

int StampOf(TFileState* File, TFileStamp& Stamp) { return StampWith(fstat, File->Descriptor, Stamp); }

int StampAt(const std::string& Path, TFileStamp& Stamp) { return StampWith(stat, Path.c_str(), Stamp); }

int StampOfName(const std::string& Path, TFileStamp& Stamp) { return StampWith(lstat, Path.c_str(), Stamp); }

int MakeDurable(const std::vector<TFileState*>& Files, const std::vector<std::string>& Folders) {
  // Up to this many files and folders, each is flushed; beyond, each file
  // system once, through a file where it can: the journal then commits once
  // for all their contents and entries.
  constexpr size_t Few = 8;
  bool Many = Files.size() + Folders.size() > Few;
  // EINVAL: the file system has no way to flush; there is nothing to wait for.
  auto Answer = [](int Result) { return Result != 0 && errno != EINVAL ? errno : 0; };
  std::vector<dev_t> Flushed;
  auto Flush = [&](int Descriptor) {
    if (!Many) return Answer(fsync(Descriptor));
    struct stat Info;
    if (fstat(Descriptor, &Info) != 0) return errno;
    if (std::find(Flushed.begin(), Flushed.end(), Info.st_dev) != Flushed.end()) return 0;
    Flushed.push_back(Info.st_dev);
    return Answer(syncfs(Descriptor));
  };
  for (TFileState* File : Files)
    if (int Code = Flush(File->Descriptor)) return Code;
  for (const std::string& Folder : Folders) {
    int Descriptor = open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder that may be written but not read cannot be opened for its
    // flush: every file system's then, which needs no descriptor.
    if (Descriptor < 0 && errno == EACCES) {
      sync();
      continue;
    }
    int Code = Descriptor < 0 ? errno : Flush(Descriptor);
    if (Descriptor >= 0) close(Descriptor);
    if (Code != 0) return Code;
  }
  return 0;
}

int CloseFile(TFileState* File) {
  // Linux releases the descriptor even when close reports EINTR.
  int Code = close(File->Descriptor) != 0 && errno != EINTR ? errno : 0;
  delete File;
  return Code;
}

int RenameOver(const std::string& Source, const std::string& Target, const std::string&) {
  return rename(Source.c_str(), Target.c_str()) != 0 ? errno : 0;
}

int RenameNoReplace(const std::string& Source, const std::string& Target) {
  if (renameat2(AT_FDCWD, Source.c_str(), AT_FDCWD, Target.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: test, then rename.
  struct stat Info;
  if (lstat(Target.c_str(), &Info) == 0) return EEXIST;
  return rename(Source.c_str(), Target.c_str()) != 0 ? errno : 0;
}

int ExchangeNames(const std::string& A, const std::string& B) {
  if (renameat2(AT_FDCWD, A.c_str(), AT_FDCWD, B.c_str(), RENAME_EXCHANGE) == 0) return 0;
  return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ? Unsupported : errno;
}

int LinkNoReplace(const std::string& Existing, const std::string& NewName) {
  return link(Existing.c_str(), NewName.c_str()) != 0 ? errno : 0;
}

bool IsLinkUnsupported(int Code) {
  // EPERM also comes from protected hard links: renaming is then the only way.
  return Code == EPERM || Code == EOPNOTSUPP || Code == ENOSYS || Code == EMLINK;
}

int DeleteName(const std::string& Path) { return unlink(Path.c_str()) != 0 ? errno : 0; }

int QueryAttributes(const std::string& Path, uint32_t& Attributes) {
  struct stat Info;
  if (stat(Path.c_str(), &Info) != 0) return errno;
  Attributes = AttributesOf(AfterLastSlash(Path), Info.st_mode);
  // Root may write a file without write bits; those bits alone count for it.
  if ((Info.st_mode & 0222) == 0 || faccessat(AT_FDCWD, Path.c_str(), W_OK, AT_EACCESS) != 0)
    Attributes |= AttrReadOnly;
  return 0;
}

bool CanRename(const std::string& Path) {
  // Files are not locked against renaming here; their folder and their
  // attributes decide. Root passes the permission and sticky tests, not the
  // attributes. A folder's own answer serves its next files too: a batch is
  // mostly one folder.
  constexpr uint64_t Fixed = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  static const uid_t Me = geteuid();
  static std::string Folder;
  static struct statx Parent;
  static bool FolderTakes = false;
  if (Folder.empty() || Folder != DirectoryOf(Path)) {
    Folder = DirectoryOf(Path);
    FolderTakes = statx(AT_FDCWD, Folder.c_str(), 0, STATX_UID | STATX_MODE, &Parent) == 0 &&
                  (Parent.stx_attributes & Fixed) == 0 && faccessat(AT_FDCWD, Folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  }
  struct statx Entry;
  if (!FolderTakes || statx(AT_FDCWD, Path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_UID, &Entry) != 0 ||
      (Entry.stx_attributes & Fixed) != 0)
    return false;
  return !(Parent.stx_mode & S_ISVTX) || Me == 0 || Entry.stx_uid == Me || Parent.stx_uid == Me;
}

bool SameName(const std::string& A, const std::string& B) { return A == B; }

bool IsFileName(const std::string&) { return true; }

struct TSearchState {
  DIR* Directory;  // null for a pattern without wildcards: one entry only
  std::string Folder;
  std::string Pattern;
};

bool FindFirst(const std::string& Pattern, TSearchState*& State, TFoundEntry& Entry, int& Code) {
  size_t Slash = Pattern.rfind('/');
  std::string Name = Pattern.substr(Slash == std::string::npos ? 0 : Slash + 1);
  Code = 0;
  if (Name.empty()) return false;
  if (!HasWildcard(Name)) {
    struct stat Info;
    if (stat(Pattern.c_str(), &Info) != 0) {
      Code = IsNotFound(errno) ? 0 : errno;
      return false;
    }
    State = new TSearchState{nullptr, "", ""};
    Entry.Name = Name;
    Entry.Attributes = AttributesOf(Name, Info.st_mode);
    return true;
  }
  std::string Folder = Slash == std::string::npos ? "" : Pattern.substr(0, Slash + 1);
  DIR* Directory = opendir(Folder.empty() ? "." : Folder.c_str());
  if (Directory == nullptr) {
    Code = IsNotFound(errno) ? 0 : errno;
    return false;
  }
  State = new TSearchState{Directory, Folder, Name};
  if (FindNext(State, Entry, Code)) return true;
  FindClose(State);
  State = nullptr;
  return false;
}

bool FindNext(TSearchState* State, TFoundEntry& Entry, int& Code) {
  Code = 0;
  if (State->Directory == nullptr) return false;
  for (;;) {
    errno = 0;
    struct dirent* Found = readdir(State->Directory);
    if (Found == nullptr) {
      Code = errno;
      return false;
    }
    if (!MatchesWildcard(Found->d_name, State->Pattern)) continue;
    Entry.Name = Found->d_name;
    // The kind the folder tells spares a look at a plain file or folder.
    if (Found->d_type != DT_REG && Found->d_type != DT_DIR) {
      Code = AttributesAt(State->Folder + Entry.Name, Entry.Name, Entry.Attributes);
      return Code == 0;
    }
    Entry.Attributes = AttributesOf(Entry.Name, Found->d_type == DT_DIR ? S_IFDIR : S_IFREG);
    return true;
  }
}

void FindClose(TSearchState* State) {
  if (State->Directory != nullptr) closedir(State->Directory);
  delete State;
}

}  // namespace Platform
