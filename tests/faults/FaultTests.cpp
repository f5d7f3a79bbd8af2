// Proves that no failure costs data. A batch of five files (SYLK with LF and
// with CR LF, not SYLK, empty, read-only) goes through the program with the
// fault shim in front of the C library: every file call fails in turn, the
// process is killed at every call and at random moments, the disk fills up.
// After each run the files must hold their old or their new content, never
// less, and the output and exit code must tell what happened.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Program, Shim, Work;

struct TBatchFile {
  std::string Name, Old;
  const char* New;  // null: not a SYLK file
  unsigned Mode;
};

const std::vector<TBatchFile> Batch = {
    {"a.slk", "ID;PWXL;N;E\nC;Y1;X1;K\"a\"\nE\n", "ID;PSCALC3\r\nC;Y1;X1;K\"a\"\r\nE\r\n", 0644},
    {"b.slk", "ID;PCALC;N\r\nC;Y1;X1;K1\r\nE\r\n", "ID;PSCALC3\r\nC;Y1;X1;K1\r\nE\r\n", 0640},
    {"c.slk", "# not a spreadsheet\n", nullptr, 0644},
    {"d.slk", "", nullptr, 0644},
    {"e.slk", "ID;PRO\nC;Y1;X1;K2\nE\n", "ID;PSCALC3\r\nC;Y1;X1;K2\r\nE\r\n", 0444},
};

struct TConfig {
  const char* Name;
  std::vector<std::string> Args;
  bool Backup, Wildcard;
};

// The list file puts the errors last, so that a halting run updates first.
const char* const ListFile = "w/a.slk\nw/b.slk\nw/e.slk\nw/c.slk\nw/d.slk\n";
const TConfig Configs[] = {
    {"backup", {"w/*.slk"}, true, true},
    {"direct", {"w/*.slk", "-B-"}, false, true},
    {"backup, halting", {"-Flist.txt", "-E+"}, true, false},
    {"direct, halting", {"-Flist.txt", "-B-", "-E+"}, false, false},
};

std::string ReadBytes(const fs::path& Path) {
  std::ostringstream Bytes;
  Bytes << std::ifstream(Path, std::ios::binary).rdbuf();
  return Bytes.str();
}

void WriteBytes(const fs::path& Path, const std::string& Bytes, unsigned Mode = 0644) {
  std::ofstream(Path, std::ios::binary) << Bytes;
  fs::permissions(Path, fs::perms(Mode));
}

void LayOut(const std::string& Folder, const std::vector<TBatchFile>& Files = Batch) {
  fs::remove_all(Folder + "/w");
  fs::create_directories(Folder + "/w");
  WriteBytes(Folder + "/list.txt", ListFile);
  for (const TBatchFile& File : Files) WriteBytes(Folder + "/w/" + File.Name, File.Old, File.Mode);
}

struct TRun {
  std::string Stdout, Stderr, Log;
  int Status = 0;
  bool Loaded() const { return Log.rfind("loaded\n", 0) == 0; }
  // Whether a fault was applied (to a call of Kind; Kind may name the call too).
  bool Fired(const std::string& Kind = "\\w+") const {
    return std::regex_search(Log, std::regex("\n! \\d+ " + Kind + " "));
  }
  // Whether standard output failed for good: a write to it, or the look at it.
  bool StdoutFailed() const {
    return std::regex_search(Log, std::regex("\n! \\d+ \\w+ \\d+ (once|always) fd=1[ \n]"));
  }
  bool Exited() const { return WIFEXITED(Status); }
};

// Runs the program in Folder with the shim and Faults; KillAfter > 0 ends it
// with SIGKILL after that many microseconds.
TRun RunProgram(const std::string& Folder, const std::vector<std::string>& Args,
                const std::string& Faults, long KillAfter = 0) {
  std::string Out = Folder + ".out", Err = Folder + ".err", Log = Folder + ".log";
  for (const std::string& Left : {Out, Err, Log}) fs::remove(Left);
  pid_t Child = fork();
  if (Child == 0) {
    if (chdir(Folder.c_str()) != 0) _exit(125);
    if (!freopen("/dev/null", "r", stdin) || !freopen(Out.c_str(), "w", stdout) ||
        !freopen(Err.c_str(), "w", stderr))
      _exit(125);
    setenv("LD_PRELOAD", Shim.c_str(), 1);
    setenv("QUORVADEL_FAULT_LOG", Log.c_str(), 1);
    setenv("QUORVADEL_FAULTS", Faults.c_str(), 1);
    // The shim comes before the sanitizer's runtime, which must not object.
    std::string Asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (Asan + ":verify_asan_link_order=0").c_str(), 1);
    std::vector<std::string> Words = {Program};
    Words.insert(Words.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (std::string& Word : Words) Argv.push_back(Word.data());
    Argv.push_back(nullptr);
    execv(Argv[0], Argv.data());
    _exit(127);
  }
  TRun Run;
  if (KillAfter > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(KillAfter));
    kill(Child, SIGKILL);
  }
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (waitpid(Child, &Run.Status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > Deadline) {
      ADD_FAILURE() << "the program hung";
      kill(Child, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  Run.Stdout = ReadBytes(Out);
  Run.Stderr = ReadBytes(Err);
  Run.Log = ReadBytes(Log);
  return Run;
}

// How many calls of each kind a run made, by the shim's log.
std::map<std::string, int> CountCalls(const std::string& Log) {
  std::map<std::string, int> Counts;
  std::istringstream Lines(Log);
  for (std::string Line; std::getline(Lines, Line);) {
    std::istringstream Words(Line);
    std::string Any, Kind;
    int Nth = 0;
    if (!(Words >> Any >> Kind >> Nth) || Any == "!") continue;
    Counts[Kind] = std::max(Counts[Kind], Nth);
    Counts["any"] = std::max(Counts["any"], std::stoi(Any));
  }
  return Counts;
}

bool IsTemporaryName(const std::string& Name) {
  return std::regex_match(Name, std::regex(R"(\.quorvadel-[0-9A-F]{8}\.tmp)"));
}

struct TLeft {
  bool HasOwn = false, HasBackup = false;
  std::string Own, Backup;
  unsigned OwnMode = 0, BackupMode = 0;
};

TLeft Look(const std::string& Folder, const TBatchFile& File) {
  TLeft Left;
  fs::path Own = Folder + "/w/" + File.Name, Backup = Own;
  Backup.replace_extension(".bak");
  if ((Left.HasOwn = fs::exists(fs::symlink_status(Own)))) {
    Left.Own = ReadBytes(Own);
    Left.OwnMode = static_cast<unsigned>(fs::status(Own).permissions());
  }
  if ((Left.HasBackup = fs::exists(fs::symlink_status(Backup)))) {
    Left.Backup = ReadBytes(Backup);
    Left.BackupMode = static_cast<unsigned>(fs::status(Backup).permissions());
  }
  return Left;
}

// The lines shown under each "Processing" line, by file name.
std::map<std::string, std::vector<std::string>> Blocks(const std::vector<std::string>& Lines) {
  std::map<std::string, std::vector<std::string>> Result;
  std::string Current;
  for (const std::string& Line : Lines) {
    if (Line.rfind("Processing: [", 0) == 0) Result[Current = Line.substr(Line.find("] ") + 2)];
    else if (!Current.empty()) Result[Current].push_back(Line);
  }
  return Result;
}

bool Has(const std::vector<std::string>& Lines, const std::string& Start) {
  for (const std::string& Line : Lines)
    if (Line.rfind(Start, 0) == 0) return true;
  return false;
}

int HaltCode(const std::string& Error) {
  const std::pair<const char*, int> Codes[] = {{"  ERROR! File not found", 1},
                                               {"  ERROR! File is not", 2},
                                               {"  ERROR! Can't update", 3},
                                               {"  ERROR! Can't rename", 4}};
  for (const auto& [Start, Code] : Codes)
    if (Error.rfind(Start, 0) == 0) return Code;
  return -1;
}

struct TExpect {
  bool StdoutFaulted = false;     // the output cannot be complete
  bool MayLeaveTemporary = false;  // the removal of a temporary file was refused, or a kill
};

// The promise, file by file, and the truth of what the run printed.
void CheckRun(const std::string& Folder, const TConfig& Config, const TRun& Run, TExpect Expect,
              const std::vector<TBatchFile>& Files = Batch) {
  SCOPED_TRACE("output:\n" + Run.Stdout);
  EXPECT_EQ("", Run.Stderr);
  for (const auto& Entry : fs::directory_iterator(Folder + "/w")) {
    std::string Name = Entry.path().filename().string();
    bool Known = false;
    for (const TBatchFile& File : Files)
      Known |= Name == File.Name || Name == fs::path(File.Name).replace_extension(".bak").string();
    if (IsTemporaryName(Name)) EXPECT_TRUE(Expect.MayLeaveTemporary) << "left behind: " << Name;
    else EXPECT_TRUE(Known) << "unexpected file " << Name;
  }
  // Output cut short by a kill ends with part of a line, and may still have
  // held the "Processing" line of the file at hand.
  bool Complete = Run.Exited() && !Expect.StdoutFaulted;
  std::vector<std::string> Lines;
  std::istringstream Text(Run.Stdout);
  for (std::string Line; std::getline(Text, Line);)
    Lines.push_back(Line.empty() || Line.back() != '\r' ? Line : Line.substr(0, Line.size() - 1));
  if (!Complete && !Run.Stdout.empty() && Run.Stdout.back() != '\n') Lines.pop_back();
  auto Shown = Blocks(Lines);
  bool Report = Has(Lines, "Exception ") || Has(Lines, "Runtime error ");
  for (const TBatchFile& File : Files) {
    SCOPED_TRACE(File.Name);
    TLeft Left = Look(Folder, File);
    bool Rewritable = File.New && (Config.Backup || (File.Mode & 0222) != 0);
    // The old content, complete, under the file's own name or its backup name.
    if (Left.HasBackup) {
      EXPECT_TRUE(Config.Backup && Rewritable);
      EXPECT_TRUE(Left.Backup == File.Old) << "the backup differs from the old content";
      EXPECT_EQ(File.Mode, Left.BackupMode);
    }
    bool IsNew = Left.HasOwn && Rewritable && Left.Own == File.New;
    EXPECT_TRUE(Left.HasOwn || Left.HasBackup) << "the old content is lost";
    EXPECT_TRUE(!Left.HasOwn || IsNew || Left.Own == File.Old) << "neither old nor new content";
    EXPECT_TRUE(!Left.HasOwn || Left.OwnMode == File.Mode) << std::oct << Left.OwnMode;
    // What the output says about the file is true; lost output says nothing.
    if (Expect.StdoutFaulted) continue;
    std::string Path = "w/" + File.Name;
    auto Block = Shown.find(Path);
    std::vector<std::string> Said = Block == Shown.end() ? std::vector<std::string>() : Block->second;
    if (Has(Said, "  successfully updated")) {
      EXPECT_TRUE(IsNew) << "success reported, but the file was not updated";
      EXPECT_TRUE(!Config.Backup || (Left.HasBackup && Has(Said, "  renamed as w/")));
    }
    if (Has(Said, "  renamed as ")) {
      EXPECT_TRUE(Has(Said, "  renamed as " + fs::path(Path).replace_extension(".bak").string()));
      EXPECT_TRUE(Left.HasBackup);
    }
    if (Has(Said, "  ERROR!") || (Complete && Block == Shown.end())) {
      EXPECT_TRUE(Left.HasOwn && !IsNew && !Left.HasBackup) << "an error or no attempt, yet changed";
    } else if (Complete && IsNew && !Has(Said, "  successfully updated")) {
      // Only the flush of the folder comes after the rename.
      EXPECT_TRUE(Has(Said, "Exception EWriteError")) << "updated, yet reported as failed";
    }
  }
  if (!Run.Exited()) return;  // killed: whatever was printed has been checked
  int Exit = WEXITSTATUS(Run.Status);
  if (Expect.StdoutFaulted) {
    EXPECT_NE(0, Exit) << "output lost, yet exit code 0";
    return;
  }
  if (Report) {
    EXPECT_EQ(1, Exit);
  } else if (Has(Lines, "ERROR! SYLK file list ")) {
    EXPECT_EQ(5, Exit);
  } else if (!Lines.empty() && Lines.back() == "  Process halted") {
    EXPECT_EQ(HaltCode(Lines[Lines.size() - 2]), Exit);
  } else {
    EXPECT_EQ(0, Exit);
    // A clean end: every file listed was processed to a result line.
    for (const auto& [Name, Said] : Shown)
      EXPECT_TRUE(Has(Said, "  successfully updated") || Has(Said, "  ERROR!")) << Name;
    bool NothingFound = !Config.Wildcard || Has(Lines, "File list built (0 files)");
    EXPECT_TRUE(NothingFound || Files.size() == Shown.size()) << "files missing from a clean run";
  }
}

struct TKindFaults {
  const char* Kind;
  std::vector<const char*> Errors;  // the first one also fails every later call
  bool Short;
};

// The errors the platform really gives for each kind of call.
const TKindFaults KindFaults[] = {
    {"open", {"EIO", "ENOENT", "EACCES", "EMFILE"}, false},
    {"create", {"ENOSPC", "EACCES", "EEXIST", "EROFS", "EDQUOT"}, false},
    {"read", {"EIO", "EINTR"}, true},
    {"write", {"ENOSPC", "EIO", "EDQUOT", "EFBIG", "EINTR"}, true},
    {"stdout", {"EPIPE", "ENOSPC", "EIO"}, true},
    {"fsync", {"EIO", "ENOSPC", "EINVAL"}, false},
    {"close", {"EIO", "EINTR"}, false},
    {"link", {"EEXIST", "EPERM", "EXDEV", "EMLINK", "ENOSPC", "EACCES", "EIO"}, false},
    {"rename", {"EXDEV", "EACCES", "EIO", "ENOSPC", "EBUSY", "EINVAL", "EEXIST"}, false},
    {"opendir", {"EACCES", "EMFILE", "ENOENT"}, false},
    {"readdir", {"EIO"}, false},
    {"stat", {"EIO", "ENOENT", "EACCES"}, false},
    {"chmod", {"EPERM", "EIO"}, false},
    {"chown", {"EPERM"}, false},
    {"fcntl", {"EINVAL"}, false},
};

std::string Folder() { return Work + "/run"; }

// A sanitized run costs ten times as much: there every call fails with one
// error, and the kills, which a sanitizer cannot watch, are left to the plain build.
bool Sanitized() { return getenv("QUORVADEL_SANITIZED") != nullptr; }

// The clean run of a configuration, checked; its log counts the calls.
TRun CleanRun(const TConfig& Config) {
  LayOut(Folder());
  TRun Run = RunProgram(Folder(), Config.Args, "");
  CheckRun(Folder(), Config, Run, {});
  return Run;
}

#define SKIP_WITHOUT_SHIM(Run) \
  if (!(Run).Loaded()) GTEST_SKIP() << "the fault shim did not load: " << (Run).Stderr

TEST(FaultInjection, EveryCallFailsInTurn) {
  int Runs = 0, Calls = 0;
  for (const TConfig& Config : Configs) {
    SCOPED_TRACE(Config.Name);
    TRun Clean = CleanRun(Config);
    SKIP_WITHOUT_SHIM(Clean);
    std::map<std::string, int> Counts = CountCalls(Clean.Log);
    Calls += Counts["any"];
    for (const TKindFaults& Kind : KindFaults) {
      std::vector<std::string> Actions;
      for (const char* Error : Kind.Errors) Actions.push_back(std::string("once:") + Error);
      Actions.push_back(std::string("always:") + Kind.Errors[0]);
      if (Sanitized()) Actions.resize(1);
      if (Kind.Short) Actions.push_back("short");
      for (int Nth = 1; Nth <= Counts[Kind.Kind]; ++Nth) {
        for (const std::string& Action : Actions) {
          std::string Faults = std::string(Kind.Kind) + ":" + std::to_string(Nth) + ":" + Action;
          SCOPED_TRACE(Faults);
          LayOut(Folder());
          TRun Run = RunProgram(Folder(), Config.Args, Faults);
          ASSERT_TRUE(Run.Fired()) << "the call sequence changed:\n" << Run.Log;
          CheckRun(Folder(), Config, Run, {Run.StdoutFailed(), false});
          ++Runs;
          if (HasFailure()) return;
        }
      }
    }
  }
  std::cout << "figures: " << Calls << " calls in 4 configurations; " << Runs
            << " runs, each with one call failing\n";
}

// Two faults: the second strikes the clean-up after the first, or the road
// taken because of it.
TEST(FaultInjection, FailuresOnTheWayBack) {
  struct {
    const char* Faults;
    const char* Config;
  } Rows[] = {
      {"write:1:once:ENOSPC,unlink:1:always:EIO", "backup"},
      {"fsync:1:once:EIO,unlink:1:once:EACCES", "direct"},
      {"rename:1:once:EXDEV,unlink:1:always:EIO", "backup, halting"},
      {"write:1:short,write:2:always:ENOSPC", "backup"},
      {"write:1:short,write:2:always:ENOSPC", "direct"},
      {"link:1:once:EPERM,create:1:once:ENOSPC", "backup"},
      {"link:1:always:EPERM,write:2:once:EIO", "backup, halting"},
      {"link:1:once:EPERM,rename:1:once:EINVAL", "backup"},
      {"link:1:once:EPERM,rename:1:always:EINVAL", "backup"},
      {"create:1:always:EEXIST", "direct"},
      {"close:3:once:EIO,unlink:1:always:EIO", "backup"},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(std::string(Row.Config) + ": " + Row.Faults);
    const TConfig& Config =
        *std::find_if(std::begin(Configs), std::end(Configs),
                      [&](const TConfig& C) { return std::string(C.Name) == Row.Config; });
    LayOut(Folder());
    TRun Run = RunProgram(Folder(), Config.Args, Row.Faults);
    SKIP_WITHOUT_SHIM(Run);
    EXPECT_TRUE(Run.Fired());
    CheckRun(Folder(), Config, Run, {false, Run.Fired("unlink")});
  }
}

TEST(Kill, AtEveryCall) {
  if (Sanitized()) GTEST_SKIP() << "kills are proven on the plain build";
  int Kills = 0;
  for (const TConfig& Config : Configs) {
    SCOPED_TRACE(Config.Name);
    TRun Clean = CleanRun(Config);
    SKIP_WITHOUT_SHIM(Clean);
    std::map<std::string, int> Counts = CountCalls(Clean.Log);
    std::vector<std::string> Points;
    // Before each call, after the last, and in the middle of each write of a file.
    for (int Nth = 1; Nth <= Counts["any"] + 1; ++Nth) Points.push_back("any:" + std::to_string(Nth) + ":kill");
    for (int Nth = 1; Nth <= Counts["write"]; ++Nth) Points.push_back("write:" + std::to_string(Nth) + ":killafter");
    for (const std::string& Point : Points) {
      SCOPED_TRACE(Point);
      LayOut(Folder());
      TRun Run = RunProgram(Folder(), Config.Args, Point);
      if (Run.Fired()) {
        EXPECT_TRUE(WIFSIGNALED(Run.Status) && WTERMSIG(Run.Status) == SIGKILL);
        ++Kills;
      }
      CheckRun(Folder(), Config, Run, {false, true});
      if (HasFailure()) return;
    }
  }
  std::cout << "figures: " << Kills << " kills, one at each call\n";
}

// Bounded: 40 runs per configuration, each killed at a random moment of the
// time a clean run takes. The seed is printed, so that a failure can be replayed.
TEST(Kill, AtRandomMoments) {
  if (Sanitized()) GTEST_SKIP() << "kills are proven on the plain build";
  unsigned Seed = std::random_device()();
  if (const char* Given = getenv("QUORVADEL_KILL_SEED")) Seed = std::stoul(Given);
  SCOPED_TRACE("QUORVADEL_KILL_SEED=" + std::to_string(Seed));
  std::mt19937 Random(Seed);
  int Kills = 0;
  for (const TConfig& Config : Configs) {
    SCOPED_TRACE(Config.Name);
    TRun Clean = CleanRun(Config);
    SKIP_WITHOUT_SHIM(Clean);
    LayOut(Folder());
    auto Start = std::chrono::steady_clock::now();
    RunProgram(Folder(), Config.Args, "");
    long Span = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::steady_clock::now() - Start).count();
    for (int I = 0; I < 40; ++I) {
      long Moment = std::uniform_int_distribution<long>(1, Span * 4 / 5)(Random);
      SCOPED_TRACE("killed after " + std::to_string(Moment) + " us");
      LayOut(Folder());
      TRun Run = RunProgram(Folder(), Config.Args, "", Moment);
      Kills += WIFSIGNALED(Run.Status);
      CheckRun(Folder(), Config, Run, {false, true});
      if (HasFailure()) return;
    }
  }
  std::cout << "figures: " << Kills << " of 160 runs killed at a random moment\n";
}

struct TCall {
  std::string Kind, Detail;
  long Result;
};

std::vector<TCall> Calls(const std::string& Log) {
  std::vector<TCall> Result;
  std::istringstream Lines(Log);
  std::regex Form(R"(\d+ (\w+) \d+ (.*) = (-?\d+|fault))");
  for (std::string Line; std::getline(Lines, Line);) {
    std::smatch Match;
    if (std::regex_match(Line, Match, Form))
      Result.push_back({Match[1], Match[2], Match[3] == "fault" ? -1 : std::stol(Match[3])});
  }
  return Result;
}

// What a power cut would find cannot be had by killing a process: the order
// of the calls must make it safe. The new content is on the disk before it
// takes the file's name; the backup name is on the disk before the old
// content loses its own name; the rename is made durable by a flush of the folder.
TEST(PowerCut, CallsComeInASafeOrder) {
  for (const TConfig& Config : {Configs[0], Configs[1]}) {
    SCOPED_TRACE(Config.Name);
    TRun Clean = CleanRun(Config);
    SKIP_WITHOUT_SHIM(Clean);
    std::map<long, std::string> Open;  // descriptor -> path; a folder's ends with "/"
    // What happened to each path, in order: to a file its writes, flushes and
    // closes; to a folder the links and renames in it and its flushes.
    std::map<std::string, std::vector<std::string>> Done;
    int Renames = 0;
    for (const TCall& Call : Calls(Clean.Log)) {
      std::istringstream Words(Call.Detail);
      std::string First, Second;
      Words >> First >> Second;
      std::string Folder = fs::path(Second).parent_path().string() + "/";
      if (Call.Kind == "create") {
        EXPECT_TRUE(IsTemporaryName(fs::path(First).filename().string())) << First;
        EXPECT_NE(std::string::npos, Call.Detail.find("mode=600")) << "readable by others";
        int Flags = std::stoi(Second.substr(6), nullptr, 8);
        EXPECT_EQ(O_CREAT | O_EXCL | O_NOFOLLOW, Flags & (O_CREAT | O_EXCL | O_NOFOLLOW));
        Open[Call.Result] = First;
      } else if (Call.Kind == "open") {
        bool IsFolder = std::stoi(Second.substr(6), nullptr, 8) & O_DIRECTORY;
        Open[Call.Result] = IsFolder ? First + "/" : First;
      } else if ((Call.Kind == "write" || Call.Kind == "fsync" || Call.Kind == "close") &&
                 First.rfind("fd=", 0) == 0) {
        std::string Path = Open[std::stol(First.substr(3))];
        if (Path.back() != '/' || Call.Kind == "fsync") Done[Path].push_back(Call.Kind);
      } else if (Call.Kind == "link") {
        Done[Folder].push_back("link");
      } else if (Call.Kind == "rename") {
        ++Renames;
        const std::vector<std::string>& Steps = Done[First];
        std::string Order;
        for (const std::string& Step : Steps) Order += Step == "write" ? "w" : Step == "fsync" ? "f" : "c";
        EXPECT_TRUE(std::regex_match(Order, std::regex("w+fc")))
            << "written, flushed, closed, then renamed: " << First << " " << Order;
        std::vector<std::string>& InFolder = Done[Folder];
        bool LinkFlushed = InFolder.size() >= 2 && InFolder.back() == "fsync" &&
                           InFolder[InFolder.size() - 2] == "link";
        EXPECT_TRUE(!Config.Backup || LinkFlushed) << "the backup name is on the disk before the rename";
        InFolder.push_back("rename");
      }
    }
    EXPECT_EQ(Config.Backup ? 3 : 2, Renames);
    for (const auto& [Path, Steps] : Done)
      for (size_t I = 0; I < Steps.size(); ++I)
        EXPECT_TRUE(Steps[I] != "rename" || (I + 1 < Steps.size() && Steps[I + 1] == "fsync"))
            << "folder flushed after the rename";
  }
}

TBatchFile OneFile(unsigned Mode) { return {"a.slk", Batch[0].Old, Batch[0].New, Mode}; }

// A rewritten file gets the original's permission bits, never wider (and,
// as root, its owner); a read-only file is refused in direct mode only.
TEST(Security, PermissionsAndOwnerKept) {
  for (unsigned Mode : {0600u, 0640u, 0644u, 0660u, 0400u, 0444u, 0755u}) {
    for (const TConfig& Config : {Configs[0], Configs[1]}) {
      SCOPED_TRACE(std::string(Config.Name) + ", mode " + std::to_string(Mode));
      LayOut(Folder(), {OneFile(Mode)});
      std::string Path = Folder() + "/w/a.slk";
      bool AsRoot = geteuid() == 0;
      ASSERT_TRUE(!AsRoot || chown(Path.c_str(), 12345, 23456) == 0);
      TRun Run = RunProgram(Folder(), Config.Args, "");
      CheckRun(Folder(), Config, Run, {}, {OneFile(Mode)});
      bool Refused = !Config.Backup && (Mode & 0222) == 0;
      EXPECT_EQ(!Refused, Run.Stdout.find("  successfully updated") != std::string::npos);
      struct stat Info;
      ASSERT_EQ(0, stat(Path.c_str(), &Info));
      EXPECT_TRUE(!AsRoot || (Info.st_uid == 12345 && Info.st_gid == 23456)) << "owner lost";
    }
  }
}

// A temporary name already taken (a planted file or link) is never opened:
// another name is tried, and the update succeeds.
TEST(Security, TakenTemporaryNameSkipped) {
  LayOut(Folder());
  TRun Run = RunProgram(Folder(), Configs[0].Args, "create:1:once:EEXIST,create:3:once:EEXIST");
  SKIP_WITHOUT_SHIM(Run);
  EXPECT_TRUE(Run.Fired("create"));
  CheckRun(Folder(), Configs[0], Run, {});
  EXPECT_EQ(0, WEXITSTATUS(Run.Status));
  std::vector<TCall> Made = Calls(Run.Log);
  // Three files updated, two names refused on the way.
  EXPECT_EQ(5, std::count_if(Made.begin(), Made.end(), [](const TCall& Call) { return Call.Kind == "create"; }));
}

// A SYLK file of about 400 KB, larger than what is left on the full disks below.
TBatchFile LargeFile() {
  TBatchFile File{"a.slk", "ID;PWXL;N;E\n", nullptr, 0644};
  std::string New = "ID;PSCALC3\r\n";
  for (int I = 0; I < 20000; ++I) {
    File.Old += "C;Y" + std::to_string(I) + ";X1;K\"0123456789\"\n";
    New += "C;Y" + std::to_string(I) + ";X1;K\"0123456789\"\r\n";
  }
  static std::string Kept;
  Kept = New;
  File.New = Kept.c_str();
  return File;
}

// Fills the file system that holds Path to its last byte.
void Fill(const std::string& Path) {
  std::ofstream Filler(Path, std::ios::binary);
  Filler.rdbuf()->pubsetbuf(nullptr, 0);
  for (size_t Chunk : {65536, 4096, 512, 1}) {
    std::string Bytes(Chunk, 'x');
    while (Filler.write(Bytes.data(), Bytes.size())) {}
    Filler.clear();
  }
}

// Private mounts for this process: as root, or as root of a user namespace of its own.
bool EnterMountNamespace() {
  if (unshare(CLONE_NEWNS) != 0) {
    std::string Uid = std::to_string(getuid()), Gid = std::to_string(getgid());
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " + Uid + " 1";
    std::ofstream("/proc/self/gid_map") << "0 " + Gid + " 1";
  }
  return mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Child side of a full-disk run: prepares the place, runs the program on a
// disk with less room than the new file needs, and copies what it left to
// Snapshot (outside the mount, which ends with the child). Exit 77: refused here.
[[noreturn]] void RunOnFullDisk(const std::string& Kind, const TConfig& Config,
                                const std::string& Place, const std::string& Snapshot) {
  fs::create_directories(Place);
  bool Ready = Kind == "file size limit";
  if (!Ready && EnterMountNamespace()) {
    std::string Image = Work + "/ext4.img";
    std::string Commands = "PATH=$PATH:/usr/sbin:/sbin; truncate -s 4M " + Image +
                           " && mkfs.ext4 -q -F " + Image + " && mount -o loop " + Image + " " +
                           Place + " 2>/dev/null";
    Ready = Kind == "tmpfs" ? mount("tmpfs", Place.c_str(), "tmpfs", 0, "size=1m") == 0
                            : std::system(Commands.c_str()) == 0;
  }
  if (!Ready) _exit(77);
  LayOut(Place, {LargeFile()});
  struct rlimit Limit = {200000, RLIM_INFINITY}, None = {RLIM_INFINITY, RLIM_INFINITY};
  if (Kind != "file size limit") Fill(Place + "/filler");
  else if (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &Limit) != 0) _exit(77);
  TRun Run = RunProgram(Place, Config.Args, "");
  setrlimit(RLIMIT_FSIZE, &None);
  fs::copy(Place + "/w", Snapshot + "/w", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  std::ofstream(Snapshot + ".status") << Run.Status;
  _exit(0);
}

// A write that meets a full disk or the file size limit half-way: the run
// ends with EWriteError, the file and its backup keep the old content, and
// the temporary file is gone.
TEST(FullDisk, RewriteLargerThanTheFreeSpace) {
  for (const char* Kind : {"tmpfs", "ext4", "file size limit"}) {
    for (const TConfig& Config : {Configs[0], Configs[1]}) {
      SCOPED_TRACE(std::string(Kind) + ", " + Config.Name);
      std::string Place = Work + "/disk", Snapshot = Work + "/snapshot";
      fs::remove_all(Snapshot);
      fs::create_directories(Snapshot);
      pid_t Child = fork();
      if (Child == 0) {
        try {
          RunOnFullDisk(Kind, Config, Place, Snapshot);
        } catch (const std::exception& Failure) {
          std::fprintf(stderr, "%s\n", Failure.what());
          _exit(1);
        }
      }
      int Status = 0;
      waitpid(Child, &Status, 0);
      if (WIFEXITED(Status) && WEXITSTATUS(Status) == 77) {
        std::cout << "skipped: " << Kind << " cannot be mounted here\n";
        continue;
      }
      ASSERT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
      TRun Run{ReadBytes(Place + ".out"), ReadBytes(Place + ".err"), ReadBytes(Place + ".log")};
      Run.Status = std::stoi(ReadBytes(Snapshot + ".status"));
      EXPECT_NE(std::string::npos, Run.Stdout.find("Exception EWriteError")) << Run.Stdout;
      CheckRun(Snapshot, Config, Run, {}, {LargeFile()});
    }
  }
}

}  // namespace

int main(int ArgC, char** ArgV) {
  ::testing::InitGoogleTest(&ArgC, ArgV);
  if (ArgC != 3) {
    std::fprintf(stderr, "usage: %s [gtest options] <fault shim> <program>\n", ArgV[0]);
    return 2;
  }
  Shim = fs::canonical(ArgV[1]).string();
  Program = fs::canonical(ArgV[2]).string();
  std::string Template = (fs::temp_directory_path() / "quorvadel-faults-XXXXXX").string();
  if (mkdtemp(Template.data()) == nullptr) return 2;
  Work = Template;
  int Result = RUN_ALL_TESTS();
  fs::remove_all(Work);
  return Result;
}
