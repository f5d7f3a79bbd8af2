// Loaded with LD_PRELOAD in front of the C library, only by the fault tests:
// it wraps the file calls the program makes, numbers them per kind and in
// total, logs each one, and fails, shortens or kills the process at the call
// the environment names. The program itself carries nothing for it.
//
// QUORVADEL_FAULTS     faults separated by ",": KIND:N:ACTION[:ERRNO]
//                      KIND one of KindNames, or "any" (N counts every call);
//                      ACTION once (the N-th call fails), always (it and every
//                      later call of the kind), short (it moves half its bytes),
//                      kill (SIGKILL before it), killafter (after it; a write
//                      moves half its bytes first).
// QUORVADEL_FAULT_LOG  a file that gets "loaded" when the shim is in place, one
//                      line per call ("<any> <kind> <n> <detail> = <result>")
//                      and "! <any> <kind> <n> <action>" for every fault applied.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum TKind {
  KOpen, KCreate, KRead, KWrite, KStdout, KFsync, KClose, KLink, KRename, KUnlink,
  KOpendir, KReaddir, KStat, KChmod, KChown, KFcntl, KindCount, KAny = KindCount
};
const char* const KindNames[] = {"open",   "create",  "read",    "write", "stdout", "fsync",
                                 "close",  "link",    "rename",  "unlink", "opendir", "readdir",
                                 "stat",   "chmod",   "chown",   "fcntl", "any"};

enum class TAction { Once, Always, Short, Kill, KillAfter };
const char* const ActionNames[] = {"once", "always", "short", "kill", "killafter"};

struct TErrorName {
  const char* Name;
  int Code;
};
const TErrorName ErrorNames[] = {
    {"ENOSPC", ENOSPC}, {"EIO", EIO},       {"EACCES", EACCES}, {"EEXIST", EEXIST},
    {"EXDEV", EXDEV},   {"EPERM", EPERM},   {"EMLINK", EMLINK}, {"EDQUOT", EDQUOT},
    {"EFBIG", EFBIG},   {"EROFS", EROFS},   {"EBUSY", EBUSY},   {"ENOENT", ENOENT},
    {"EMFILE", EMFILE}, {"EINTR", EINTR},   {"EPIPE", EPIPE},   {"EINVAL", EINVAL},
    {"ENOMEM", ENOMEM}, {"ENOTDIR", ENOTDIR}};

struct TFault {
  int Kind;
  long Nth;
  TAction Action;
  int Error;
  bool Fired;
};

// What a wrapper does with the call it was given.
enum class TVerdict { Pass, Fail, Short, Kill, KillAfter };

TFault Faults[16];
int FaultCount = 0;
long Counts[KindCount + 1];
int LogDescriptor = -1;
int PendingError = 0;

void Log(const char* Template, ...) {
  if (LogDescriptor < 0) return;
  char Line[1024];
  va_list Args;
  va_start(Args, Template);
  int Size = std::vsnprintf(Line, sizeof Line - 1, Template, Args);
  va_end(Args);
  if (Size < 0) return;
  if (Size > static_cast<int>(sizeof Line) - 2) Size = sizeof Line - 2;
  Line[Size++] = '\n';
  syscall(SYS_write, LogDescriptor, Line, Size);
}

int Lookup(const char* Word, const char* const* Names, int Count) {
  for (int I = 0; I < Count; ++I)
    if (std::strcmp(Word, Names[I]) == 0) return I;
  return -1;
}

// Reads one "KIND:N:ACTION[:ERRNO]"; a fault that does not parse is dropped
// with a log line, so that the test sees it never fired.
void ParseFault(char* Text) {
  char* Fields[4] = {};
  int Count = 0;
  for (char* Save = nullptr; Count < 4; ++Count) {
    Fields[Count] = strtok_r(Count == 0 ? Text : nullptr, ":", &Save);
    if (Fields[Count] == nullptr) break;
  }
  int Kind = Count >= 3 ? Lookup(Fields[0], KindNames, KindCount + 1) : -1;
  int Action = Count >= 3 ? Lookup(Fields[2], ActionNames, 5) : -1;
  int Error = EIO;
  for (const TErrorName& Name : ErrorNames)
    if (Count == 4 && std::strcmp(Fields[3], Name.Name) == 0) Error = Name.Code;
  if (Kind < 0 || Action < 0 || FaultCount == 16) {
    Log("bad fault %s", Fields[0] ? Fields[0] : "");
    return;
  }
  Faults[FaultCount++] = {Kind, std::atol(Fields[1]), static_cast<TAction>(Action), Error, false};
}

[[gnu::constructor]] void Start() {
  if (const char* Path = std::getenv("QUORVADEL_FAULT_LOG")) {
    int Descriptor = static_cast<int>(
        syscall(SYS_openat, AT_FDCWD, Path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    // Far from 0 to 2, so that a closed standard output stays closed.
    if (Descriptor >= 0) {
      LogDescriptor = static_cast<int>(syscall(SYS_fcntl, Descriptor, F_DUPFD_CLOEXEC, 200));
      syscall(SYS_close, Descriptor);
    }
  }
  Log("loaded");
  if (const char* Spec = std::getenv("QUORVADEL_FAULTS")) {
    static char Copy[1024];
    std::snprintf(Copy, sizeof Copy, "%s", Spec);
    char* Save = nullptr;
    for (char* One = strtok_r(Copy, ",", &Save); One; One = strtok_r(nullptr, ",", &Save)) {
      char Piece[128];
      std::snprintf(Piece, sizeof Piece, "%s", One);
      ParseFault(Piece);
    }
  }
}

// Numbers the call and decides its fate; Detail describes it for the log.
TVerdict Decide(TKind Kind, const char* Detail) {
  long Nth = ++Counts[Kind];
  long Any = ++Counts[KAny];
  for (int I = 0; I < FaultCount; ++I) {
    TFault& Fault = Faults[I];
    bool Hit = (Fault.Kind == Kind && Nth == Fault.Nth) || (Fault.Kind == KAny && Any == Fault.Nth);
    bool Later = Fault.Fired && Fault.Kind == Kind && Fault.Action == TAction::Always;
    if (!Hit && !Later) continue;
    Fault.Fired = true;
    Log("! %ld %s %ld %s %s", Any, KindNames[Kind], Nth, ActionNames[static_cast<int>(Fault.Action)],
        Detail);
    PendingError = Fault.Error;
    switch (Fault.Action) {
      case TAction::Once:
      case TAction::Always: return TVerdict::Fail;
      case TAction::Short: return TVerdict::Short;
      case TAction::Kill: return TVerdict::Kill;
      case TAction::KillAfter: return TVerdict::KillAfter;
    }
  }
  return TVerdict::Pass;
}

[[noreturn]] void KillProcess() {
  syscall(SYS_kill, getpid(), SIGKILL);
  for (;;) pause();
}

// Integers and pointers alike go through the log as numbers.
long AsNumber(long Value) { return Value; }
long AsNumber(const void* Value) { return Value != nullptr ? 1 : 0; }

template <class F>
F Real(const char* Name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, Name));
}

// Runs a call: before it, the verdict; after it, the log line. Call performs
// the real call; Failed is the value that signals failure.
template <class R, class TCall>
R Wrap(TKind Kind, const char* Detail, R Failed, TCall Call) {
  TVerdict Verdict = Decide(Kind, Detail);
  if (Verdict == TVerdict::Kill) KillProcess();
  if (Verdict == TVerdict::Fail) {
    Log("%ld %s %ld %s = fault", Counts[KAny], KindNames[Kind], Counts[Kind], Detail);
    errno = PendingError;
    return Failed;
  }
  R Result = Call(Verdict);
  int Saved = errno;
  Log("%ld %s %ld %s = %ld", Counts[KAny], KindNames[Kind], Counts[Kind], Detail, AsNumber(Result));
  if (Verdict == TVerdict::KillAfter) KillProcess();
  errno = Saved;
  return Result;
}


// A close: Linux releases the descriptor (and closedir the stream) even
// when it reports an error, so a failing close still closes.
template <class TCall>
int Release(const char* Detail, TCall Call) {
  TVerdict Verdict = Decide(KClose, Detail);
  if (Verdict == TVerdict::Kill) KillProcess();
  int Result = Call();
  Log("%ld close %ld %s = %s", Counts[KAny], Counts[KClose], Detail,
      Verdict == TVerdict::Fail ? "fault" : Result == 0 ? "0" : "-1");
  if (Verdict == TVerdict::KillAfter) KillProcess();
  if (Verdict != TVerdict::Fail) return Result;
  errno = PendingError;
  return -1;
}

int OpenAt(int Directory, const char* Path, int Flags, mode_t Mode) {
  static auto Call = Real<int (*)(int, const char*, int, ...)>("openat");
  char Detail[600];
  std::snprintf(Detail, sizeof Detail, "%s flags=%o mode=%o", Path, Flags, Mode);
  TKind Kind = (Flags & O_CREAT) ? KCreate : KOpen;
  return Wrap(Kind, Detail, -1, [&](TVerdict) { return Call(Directory, Path, Flags, Mode); });
}

mode_t ModeOf(int Flags, va_list Args) {
  bool HasMode = (Flags & O_CREAT) || (Flags & O_TMPFILE) == O_TMPFILE;
  return HasMode ? static_cast<mode_t>(va_arg(Args, int)) : 0;
}

// Moves half of Size when the verdict asks for a short transfer.
size_t Portion(TVerdict Verdict, size_t Size) {
  return (Verdict == TVerdict::Short || Verdict == TVerdict::KillAfter) && Size > 1 ? Size / 2 : Size;
}

}  // namespace

extern "C" {

int open(const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  mode_t Mode = ModeOf(Flags, Args);
  va_end(Args);
  return OpenAt(AT_FDCWD, Path, Flags, Mode);
}

int open64(const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  mode_t Mode = ModeOf(Flags, Args);
  va_end(Args);
  return OpenAt(AT_FDCWD, Path, Flags, Mode);
}

int openat(int Directory, const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  mode_t Mode = ModeOf(Flags, Args);
  va_end(Args);
  return OpenAt(Directory, Path, Flags, Mode);
}

ssize_t read(int Descriptor, void* Buffer, size_t Size) {
  static auto Call = Real<ssize_t (*)(int, void*, size_t)>("read");
  char Detail[64];
  std::snprintf(Detail, sizeof Detail, "fd=%d size=%zu", Descriptor, Size);
  return Wrap(KRead, Detail, ssize_t(-1),
              [&](TVerdict V) { return Call(Descriptor, Buffer, Portion(V, Size)); });
}

ssize_t write(int Descriptor, const void* Buffer, size_t Size) {
  static auto Call = Real<ssize_t (*)(int, const void*, size_t)>("write");
  char Detail[64];
  std::snprintf(Detail, sizeof Detail, "fd=%d size=%zu", Descriptor, Size);
  return Wrap(Descriptor == 1 ? KStdout : KWrite, Detail, ssize_t(-1),
              [&](TVerdict V) { return Call(Descriptor, Buffer, Portion(V, Size)); });
}

int fsync(int Descriptor) {
  static auto Call = Real<int (*)(int)>("fsync");
  char Detail[32];
  std::snprintf(Detail, sizeof Detail, "fd=%d", Descriptor);
  return Wrap(KFsync, Detail, -1, [&](TVerdict) { return Call(Descriptor); });
}

int close(int Descriptor) {
  static auto Call = Real<int (*)(int)>("close");
  char Detail[32];
  std::snprintf(Detail, sizeof Detail, "fd=%d", Descriptor);
  return Release(Detail, [&] { return Call(Descriptor); });
}

int link(const char* Existing, const char* NewName) {
  static auto Call = Real<int (*)(const char*, const char*)>("link");
  char Detail[1100];
  std::snprintf(Detail, sizeof Detail, "%s %s", Existing, NewName);
  return Wrap(KLink, Detail, -1, [&](TVerdict) { return Call(Existing, NewName); });
}

int rename(const char* Source, const char* Target) {
  static auto Call = Real<int (*)(const char*, const char*)>("rename");
  char Detail[1100];
  std::snprintf(Detail, sizeof Detail, "%s %s", Source, Target);
  return Wrap(KRename, Detail, -1, [&](TVerdict) { return Call(Source, Target); });
}

int renameat2(int SourceDirectory, const char* Source, int TargetDirectory, const char* Target,
              unsigned Flags) {
  static auto Call = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  char Detail[1100];
  std::snprintf(Detail, sizeof Detail, "%s %s flags=%u", Source, Target, Flags);
  return Wrap(KRename, Detail, -1,
              [&](TVerdict) { return Call(SourceDirectory, Source, TargetDirectory, Target, Flags); });
}

int unlink(const char* Path) {
  static auto Call = Real<int (*)(const char*)>("unlink");
  return Wrap(KUnlink, Path, -1, [&](TVerdict) { return Call(Path); });
}

DIR* opendir(const char* Path) {
  static auto Call = Real<DIR* (*)(const char*)>("opendir");
  return Wrap(KOpendir, Path, static_cast<DIR*>(nullptr), [&](TVerdict) { return Call(Path); });
}

struct dirent* readdir(DIR* Directory) {
  static auto Call = Real<struct dirent* (*)(DIR*)>("readdir");
  return Wrap(KReaddir, "", static_cast<struct dirent*>(nullptr),
              [&](TVerdict) { return Call(Directory); });
}

int closedir(DIR* Directory) {
  static auto Call = Real<int (*)(DIR*)>("closedir");
  return Release("dir", [&] { return Call(Directory); });
}

int stat(const char* Path, struct stat* Info) {
  static auto Call = Real<int (*)(const char*, struct stat*)>("stat");
  return Wrap(KStat, Path, -1, [&](TVerdict) { return Call(Path, Info); });
}

int lstat(const char* Path, struct stat* Info) {
  static auto Call = Real<int (*)(const char*, struct stat*)>("lstat");
  return Wrap(KStat, Path, -1, [&](TVerdict) { return Call(Path, Info); });
}

int fstat(int Descriptor, struct stat* Info) {
  static auto Call = Real<int (*)(int, struct stat*)>("fstat");
  char Detail[32];
  std::snprintf(Detail, sizeof Detail, "fd=%d", Descriptor);
  return Wrap(KStat, Detail, -1, [&](TVerdict) { return Call(Descriptor, Info); });
}

int fchmod(int Descriptor, mode_t Mode) {
  static auto Call = Real<int (*)(int, mode_t)>("fchmod");
  char Detail[48];
  std::snprintf(Detail, sizeof Detail, "fd=%d mode=%o", Descriptor, Mode);
  return Wrap(KChmod, Detail, -1, [&](TVerdict) { return Call(Descriptor, Mode); });
}

int fchown(int Descriptor, uid_t Owner, gid_t Group) {
  static auto Call = Real<int (*)(int, uid_t, gid_t)>("fchown");
  char Detail[64];
  std::snprintf(Detail, sizeof Detail, "fd=%d owner=%d group=%d", Descriptor,
                static_cast<int>(Owner), static_cast<int>(Group));
  return Wrap(KChown, Detail, -1, [&](TVerdict) { return Call(Descriptor, Owner, Group); });
}

int fcntl(int Descriptor, int Command, ...) {
  static auto Call = Real<int (*)(int, int, ...)>("fcntl");
  va_list Args;
  va_start(Args, Command);
  // Every command the program uses takes an int or nothing; a long carries either.
  long Argument = va_arg(Args, long);
  va_end(Args);
  char Detail[48];
  std::snprintf(Detail, sizeof Detail, "fd=%d cmd=%d", Descriptor, Command);
  return Wrap(KFcntl, Detail, -1, [&](TVerdict) { return Call(Descriptor, Command, Argument); });
}

}  // extern "C"
