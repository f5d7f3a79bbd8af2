// Preloaded in front of the C library by the fault runs of tests/run.py, and
// only there: it numbers the file calls the program makes, logs each one, and
// at the call that QUORVADEL_FAULT names ("N:ACTION", or "KIND:ACTION" for the
// first call of a kind, "KINDN:ACTION" for its N-th; two of them joined by a
// comma act each at its own call) it
//   ERRNO      fails it with that error number
//   ERRNO+     fails it and every later call of the same kind
//   short      moves half of its bytes
//   kill       sends SIGKILL before it;  killafter: after it (after half of a write)
//   wait       waits 1.1 s before it, longer than a group of files may wait
//   append=F   another program appends the record "W;saved" LF to the file F before it
//   save=F     another program saves F before it: a copy of it with that record more,
//              renamed over it
//   remove=F   another program removes the file F before it
//   ACT=F+     another program acts so before it and before every later call, its
//              records numbered by the call they came before: "W;N" LF
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

int LogFd = -1;
long Count = 0;

struct TFault {
  long At = 0, KindCount = 0, KindAt = 1;
  char Action[40] = "", Always = 0, Kind[16] = "";
  int Errno = 0;
  const char* StruckKind = nullptr;
} Faults[2];

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
  for (TFault& F : Faults) {
    if (Spec && std::sscanf(Spec, "%ld:%39[^+,]%c", &F.At, F.Action, &F.Always) < 2)
      if (std::sscanf(Spec, "%15[a-z]%ld:%39[^+,]%c", F.Kind, &F.KindAt, F.Action, &F.Always) < 3)
        std::sscanf(Spec, "%15[a-z]:%39[^+,]%c", F.Kind, F.Action, &F.Always);
    F.Always = F.Always == '+';
    F.Errno = std::atoi(F.Action);
    Spec = Spec ? std::strchr(Spec, ',') : nullptr;
    Spec = Spec ? Spec + 1 : nullptr;
  }
}

// What another program does to File: appends the record, or saves File anew
// with the record added (through a copy renamed over it), or removes it.
void ActOn(const char* Act, bool Numbered) {
  const char* File = std::strchr(Act, '=') + 1;
  if (!std::strncmp(Act, "remove=", 7)) {
    syscall(SYS_unlinkat, AT_FDCWD, File, 0);
    return;
  }
  bool Save = !std::strncmp(Act, "save=", 5);
  char Copy[300], Record[40];
  std::snprintf(Copy, sizeof Copy, "%s.saving", File);
  int Size = Numbered ? std::snprintf(Record, sizeof Record, "W;%ld\n", Count) : std::snprintf(Record, sizeof Record, "W;saved\n");
  long To = syscall(SYS_openat, AT_FDCWD, Save ? Copy : File, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  long From = Save ? syscall(SYS_openat, AT_FDCWD, File, O_RDONLY | O_CLOEXEC) : -1;
  char Data[65536];
  for (long Got; From >= 0 && (Got = syscall(SYS_read, From, Data, sizeof Data)) > 0;) syscall(SYS_write, To, Data, Got);
  syscall(SYS_write, To, Record, Size);
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
  bool Fails = false, Half = false, KillAfter = false;
  int Error = 0;
  for (TFault& F : Faults) {
    bool Acts = std::strchr(F.Action, '=') != nullptr;  // another program, before every later call with "+"
    bool Struck = Count == F.At || (F.StruckKind ? F.Always && (Acts || !std::strcmp(F.StruckKind, Kind))
                                                 : F.Kind[0] && !std::strcmp(F.Kind, Kind) && ++F.KindCount == F.KindAt);
    if (!Struck) continue;
    F.StruckKind = Kind;
    Log("! %ld %s\n", Count, F.Action);
    if (F.Errno != 0) Fails = true, Error = F.Errno;
    Half = Half || !std::strcmp(F.Action, "short") || !std::strcmp(F.Action, "killafter");
    KillAfter = KillAfter || !std::strcmp(F.Action, "killafter");
    if (!std::strcmp(F.Action, "kill")) Kill();
    if (!std::strcmp(F.Action, "wait")) usleep(1100000);
    if (Acts) ActOn(F.Action, F.Always);
  }
  // Linux releases a descriptor even when its close reports an error.
  bool Releases = !std::strcmp(Kind, "close");
  R Result = Fails && !Releases ? Failed : Real(Half);
  int Saved = Fails ? Error : errno;
  Log("%s %ld %s\n", Kind, Fails ? -1 : AsNumber(Result), Args);
  if (KillAfter) Kill();
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
     (FromFolder, From, ToFolder, To, Flags), -1,
     Flags & RENAME_EXCHANGE ? "exchange" : Flags & RENAME_NOREPLACE ? "noreplace" : "rename", "%s %s", From, To)
WRAP(DIR*, opendir, (const char* Path), (Path), nullptr, "opendir", "%s", Path)
WRAP(dirent*, readdir, (DIR * Folder), (Folder), nullptr, "readdir", "%s", "")
WRAP(int, closedir, (DIR * Folder), (Folder), -1, "close", "%s", "dir")
WRAP(int, stat, (const char* Path, struct stat* Info), (Path, Info), -1, "stat", "%s", Path)
WRAP(int, lstat, (const char* Path, struct stat* Info), (Path, Info), -1, "stat", "%s", Path)
WRAP(int, fstat, (int Fd, struct stat* Info), (Fd, Info), -1, "stat", "%d", Fd)
WRAP(int, fchmod, (int Fd, mode_t Mode), (Fd, Mode), -1, "chmod", "%d %o", Fd, Mode)

// Flushes every file system; it cannot fail, so only a kill acts here.
extern "C" void sync() {
  static auto Real = RealCall<void (*)()>("sync");
  Run<int>("sync", -1, "", [&](bool) { return Real(), 0; });
}

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
