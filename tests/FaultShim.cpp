// Preloaded in front of the C library by the fault runs of tests/run.py, and
// only there: it numbers the file calls the program makes, logs each one, and
// at the call that QUORVADEL_FAULT names ("N:ACTION", or "KIND:ACTION" for the
// first call of a kind, "KINDN:ACTION" for its N-th) it
//   ERRNO      fails it with that error number
//   ERRNO+     fails it and every later call of the same kind
//   short      moves half of its bytes
//   kill       sends SIGKILL before it;  killafter: after it (after half of a write)
//   append=F   another program appends the record "W;saved" LF to the file F before it
//   save=F     another program saves F before it: a copy of it with that record more,
//              renamed over it
// QUORVADEL_FAULT_LOG gets "loaded", then one line per call, "KIND RESULT ARGS",
// and "! N ACTION" when the fault strikes. The program carries nothing for it.
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
#include <algorithm>

namespace {

int LogFd = -1, FaultErrno = 0;
long Count = 0, FaultAt = 0, KindCount = 0, KindAt = 1;
char Action[40] = "", Always = 0, FaultKind[16] = "";
const char* StruckKind = nullptr;

// Writes one line of the log, without the C library's buffers.
void Log(const char* Format, ...) {
  char Line[1200];
  va_list Args;
  va_start(Args, Format);
  int Size = std::vsnprintf(Line, sizeof Line, Format, Args);
  va_end(Args);
  if (LogFd >= 0 && Size > 0) syscall(SYS_write, LogFd, Line, std::min<size_t>(Size, sizeof Line - 1));
}

[[gnu::constructor]] void Start() {
  if (const char* Path = std::getenv("QUORVADEL_FAULT_LOG")) {
    long Fd = syscall(SYS_openat, AT_FDCWD, Path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // Far above 0 to 2, so that a closed standard output stays closed.
    LogFd = Fd < 0 ? -1 : static_cast<int>(syscall(SYS_fcntl, Fd, F_DUPFD_CLOEXEC, 200));
    syscall(SYS_close, Fd);
  }
  Log("loaded\n");
  const char* Spec = std::getenv("QUORVADEL_FAULT");
  if (Spec && std::sscanf(Spec, "%ld:%39[^+]%c", &FaultAt, Action, &Always) < 2)
    if (std::sscanf(Spec, "%15[a-z]%ld:%39[^+]%c", FaultKind, &KindAt, Action, &Always) < 3)
      std::sscanf(Spec, "%15[a-z]:%39[^+]%c", FaultKind, Action, &Always);
  FaultErrno = std::atoi(Action);
}

constexpr char Record[] = "W;saved\n";

// What another program does to File: appends the record, or saves File anew
// with the record added (through a copy renamed over it).
void ActOn(const char* File, bool Save) {
  char Copy[300];
  std::snprintf(Copy, sizeof Copy, "%s.saving", File);
  long To = syscall(SYS_openat, AT_FDCWD, Save ? Copy : File, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  long From = Save ? syscall(SYS_openat, AT_FDCWD, File, O_RDONLY | O_CLOEXEC) : -1;
  char Data[65536];
  for (long Got; From >= 0 && (Got = syscall(SYS_read, From, Data, sizeof Data)) > 0;) syscall(SYS_write, To, Data, Got);
  syscall(SYS_write, To, Record, sizeof Record - 1);
  syscall(SYS_close, From);
  syscall(SYS_close, To);
  if (Save) syscall(SYS_renameat, AT_FDCWD, Copy, AT_FDCWD, File);
}

[[noreturn]] void Kill() {
  kill(getpid(), SIGKILL);
  for (;;) pause();
}

long AsNumber(long Value) { return Value; }
long AsNumber(const void* Value) { return Value != nullptr; }

// Runs one call: Real(Half) makes the real call, moving half of its bytes
// when Half; Failed is the value that tells of a failure.
template <class R, class TReal>
R Run(const char* Kind, R Failed, const char* Args, TReal Real) {
  ++Count;
  bool Struck = Count == FaultAt || (StruckKind ? Always && !std::strcmp(StruckKind, Kind)
                                                 : !std::strcmp(FaultKind, Kind) && ++KindCount == KindAt);
  if (Struck) {
    StruckKind = Kind;
    Log("! %ld %s\n", Count, Action);
  }
  bool Fails = Struck && FaultErrno != 0, Half = Struck && (!std::strcmp(Action, "short") ||
                                                           !std::strcmp(Action, "killafter"));
  if (Struck && !std::strcmp(Action, "kill")) Kill();
  if (Struck && !std::strncmp(Action, "append=", 7)) ActOn(Action + 7, false);
  if (Struck && !std::strncmp(Action, "save=", 5)) ActOn(Action + 5, true);
  // Linux releases a descriptor even when its close reports an error.
  bool Releases = !std::strcmp(Kind, "close");
  R Result = Fails && !Releases ? Failed : Real(Half);
  int Saved = Fails ? FaultErrno : errno;
  Log("%s %ld %s\n", Kind, Fails ? -1 : AsNumber(Result), Args);
  if (Struck && !std::strcmp(Action, "killafter")) Kill();
  errno = Saved;
  return Fails ? Failed : Result;
}

template <class F>
F RealCall(const char* Name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, Name));
}

size_t Part(bool Half, size_t Size) { return Half && Size > 1 ? Size / 2 : Size; }

}  // namespace

// One wrapper per call: its kind, its real call, its failure value, and how
// the log shows its arguments.
#define WRAP(RET, NAME, PARAMS, CALL, FAILED, KIND, FORMAT, ...)                         \
  extern "C" RET NAME PARAMS {                                                         \
    static auto Real = RealCall<RET(*) PARAMS>(#NAME);                                 \
    char Args[1100];                                                                   \
    std::snprintf(Args, sizeof Args, FORMAT, __VA_ARGS__);                             \
    return Run<RET>(KIND, FAILED, Args, [&]([[maybe_unused]] bool Half) { return Real CALL; }); \
  }

WRAP(ssize_t, read, (int Fd, void* Data, size_t Size), (Fd, Data, Part(Half, Size)), -1, "read", "%d", Fd)
WRAP(ssize_t, write, (int Fd, const void* Data, size_t Size), (Fd, Data, Part(Half, Size)), -1,
     Fd == 1 ? "stdout" : "write", "%d", Fd)
WRAP(int, fsync, (int Fd), (Fd), -1, "fsync", "%d", Fd)
WRAP(int, syncfs, (int Fd), (Fd), -1, "syncfs", "%d", Fd)
WRAP(int, close, (int Fd), (Fd), -1, "close", "%d", Fd)
WRAP(int, link, (const char* From, const char* To), (From, To), -1, "link", "%s %s", From, To)
WRAP(int, linkat, (int FromFolder, const char* From, int ToFolder, const char* To, int Flags),
     (FromFolder, From, ToFolder, To, Flags), -1, "name", "%d %s %s", FromFolder, From, To)
WRAP(int, rename, (const char* From, const char* To), (From, To), -1, "rename", "%s %s", From, To)
WRAP(int, renameat2, (int FromFolder, const char* From, int ToFolder, const char* To, unsigned Flags),
     (FromFolder, From, ToFolder, To, Flags), -1, Flags & RENAME_EXCHANGE ? "exchange" : "rename", "%s %s", From, To)
WRAP(DIR*, opendir, (const char* Path), (Path), nullptr, "opendir", "%s", Path)
WRAP(dirent*, readdir, (DIR * Folder), (Folder), nullptr, "readdir", "%s", "")
WRAP(int, closedir, (DIR * Folder), (Folder), -1, "close", "%s", "dir")
WRAP(int, stat, (const char* Path, struct stat* Info), (Path, Info), -1, "stat", "%s", Path)
WRAP(int, lstat, (const char* Path, struct stat* Info), (Path, Info), -1, "stat", "%s", Path)
WRAP(int, fstat, (int Fd, struct stat* Info), (Fd, Info), -1, "stat", "%d", Fd)
WRAP(int, fchmod, (int Fd, mode_t Mode), (Fd, Mode), -1, "chmod", "%d %o", Fd, Mode)

extern "C" int open(const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  bool Unnamed = (Flags & O_TMPFILE) == O_TMPFILE, Creates = (Flags & O_CREAT) || Unnamed;
  mode_t Mode = Creates ? static_cast<mode_t>(va_arg(Args, int)) : 0;
  va_end(Args);
  static auto Real = RealCall<int (*)(const char*, int, ...)>("open");
  char Text[1100];
  std::snprintf(Text, sizeof Text, "%s %o", Path, Flags);
  return Run(Unnamed ? "tmpfile" : Creates ? "create" : "open", -1, Text,
             [&](bool) { return Real(Path, Flags, Mode); });
}
