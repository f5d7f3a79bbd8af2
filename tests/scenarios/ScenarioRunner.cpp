#include "ScenarioRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <functional>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The program under test, after the command that runs it (an emulator, a checker), if any.
std::vector<std::string> Command;
std::string Program;
bool Windows = false;
constexpr int TimeoutSeconds = 20;

std::string Replace(std::string Text, const std::string& From, const std::string& To) {
  for (size_t Pos = Text.find(From); Pos != std::string::npos; Pos = Text.find(From, Pos + To.size()))
    Text.replace(Pos, From.size(), To);
  return Text;
}

// The placeholders that stand for the program's own texts.
std::string PlatformText(std::string Text) {
  Text = Replace(Text, "{module}", Program.substr(Program.rfind('/') + 1));
  Text = Replace(Text, "{à}", Windows ? "\xE0" : "\xC3\xA0");
  return Replace(Text, "{é}", Windows ? "\xE9" : "\xC3\xA9");
}

// Windows keeps no permission bits, only the read-only attribute.
unsigned ComparableMode(const TFile& File) {
  if (File.Type == TType::Symlink) return 0777;
  if (!Windows) return File.Mode;
  return File.Mode & 0222 ? 0644 : 0444;
}

std::string ReadBytes(const fs::path& Path) {
  std::ostringstream Bytes;
  Bytes << std::ifstream(Path, std::ios::binary).rdbuf();
  return Bytes.str();
}

void CreateFile(const fs::path& Folder, const TFile& File) {
  fs::path Path = Folder / File.Path;
  fs::create_directories(Path.parent_path());
  switch (File.Type) {
    case TType::Regular:
      std::ofstream(Path, std::ios::binary) << File.Content;
      if (File.Size >= 0) fs::resize_file(Path, File.Size);
      break;
    case TType::Directory: fs::create_directory(Path); break;
    case TType::Fifo: mkfifo(Path.c_str(), 0644); break;
    case TType::Symlink: fs::create_symlink(File.Content, Path); return;
  }
  fs::permissions(Path, fs::perms(File.Mode));
  if (File.Time) {
    struct timespec Times[2] = {{*File.Time, 0}, {*File.Time, 0}};
    utimensat(AT_FDCWD, Path.c_str(), Times, 0);
  }
}

// Every entry below Folder but folders, as the expectations write them.
std::vector<TFile> Snapshot(const fs::path& Folder) {
  std::vector<TFile> Files;
  for (const auto& Entry : fs::recursive_directory_iterator(Folder)) {
    fs::file_status Status = Entry.symlink_status();
    TFile File{Entry.path().lexically_relative(Folder).string(), "",
               static_cast<unsigned>(Status.permissions()) & 07777};
    if (Status.type() == fs::file_type::directory) continue;
    if (Status.type() == fs::file_type::symlink) {
      File.Content = fs::read_symlink(Entry.path()).string();
      File.Type = TType::Symlink;
    } else if (Status.type() == fs::file_type::fifo) File.Type = TType::Fifo;
    else File.Content = ReadBytes(Entry.path());
    File.Mode = ComparableMode(File);
    Files.push_back(std::move(File));
  }
  std::sort(Files.begin(), Files.end(), [](const TFile& A, const TFile& B) { return A.Path < B.Path; });
  return Files;
}

std::vector<TFile> Expected(std::vector<TFile> Files, const std::string& Folder) {
  std::vector<TFile> Result;
  for (TFile& File : Files) {
    if (File.Type == TType::Directory) continue;
    File.Mode = ComparableMode(File);
    File.Content = Replace(File.Content, "{dir}", Folder);
    if (File.Size >= 0) File.Content.resize(File.Size);
    Result.push_back(std::move(File));
  }
  std::sort(Result.begin(), Result.end(), [](const TFile& A, const TFile& B) { return A.Path < B.Path; });
  return Result;
}

// A folder in which nobody, root included, can create a file.
bool LockFolder(const std::string& Path, bool Lock) {
  if (geteuid() != 0) return chmod(Path.c_str(), Lock ? 0555 : 0755) == 0;
  return std::system(("chattr " + std::string(Lock ? "+i '" : "-i '") + Path + "' 2>/dev/null").c_str()) == 0;
}

void SetLimit(int Resource, long long Bytes) {
  struct rlimit Limit = {static_cast<rlim_t>(Bytes), static_cast<rlim_t>(Bytes)};
  if (Bytes) setrlimit(Resource, &Limit);
}

// Starts Args in Folder with the given standard streams (-1: closed);
// Prepare runs in the child just before the program.
pid_t Spawn(std::vector<std::string> Args, const std::string& Folder, int In, int Out, int Err,
            const std::function<void()>& Prepare = [] {}) {
  pid_t Child = fork();
  if (Child != 0) return Child;
  if (chdir(Folder.c_str()) != 0) _exit(125);
  int Streams[3] = {In, Out, Err};
  for (int Stream = 0; Stream < 3; ++Stream) {
    if (Streams[Stream] < 0) close(Stream);
    else dup2(Streams[Stream], Stream);
  }
  for (int Descriptor = 3; Descriptor < 1024; ++Descriptor) close(Descriptor);
  Prepare();
  std::vector<char*> Argv;
  for (std::string& Arg : Args) Argv.push_back(Arg.data());
  Argv.push_back(nullptr);
  execvp(Argv[0], Argv.data());
  _exit(127);
}

// The Windows program that sets attributes, holds files and launches with a raw command line.
std::vector<std::string> Helper(std::vector<std::string> Args) {
  const char* Path = std::getenv("QUORVADEL_TEST_HELPER");
  std::vector<std::string> Line = Command;
  Line.push_back(Path != nullptr ? Path : "TestHelper.exe");
  Line.insert(Line.end(), Args.begin(), Args.end());
  return Line;
}

int Wait(pid_t Child) {
  int Status = 0;
  waitpid(Child, &Status, 0);
  return Status;
}

// Another process holding a file open until Release is called.
struct THold {
  pid_t Child = -1;
  int Input = -1;

  bool Start(const TScenario& Scenario, const std::string& Folder) {
    int In[2], Out[2];
    if (pipe(In) != 0 || pipe(Out) != 0) return false;
    Child = Spawn(Helper({"hold", Scenario.HeldFile, Scenario.HeldShare}), Folder, In[0], Out[1],
                  open("/dev/null", O_WRONLY));
    close(In[0]);
    close(Out[1]);
    Input = In[1];
    char Ready[6] = {};
    bool Held = read(Out[0], Ready, 6) == 6 && std::string(Ready, 6) == "ready\n";
    close(Out[0]);
    return Held;
  }
  ~THold() {
    if (Child < 0) return;
    close(Input);
    Wait(Child);
  }
};

struct TResult {
  std::string Stdout, Stderr;
  int Status = 0;
  bool TimedOut = false;
};

// Reads both descriptors until the child has ended and they hold nothing
// more; a process the child left behind may keep them open (wine's do).
void Drain(pid_t Child, int Out, int Err, TResult& Result) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSeconds);
  struct pollfd Polls[2] = {{Out, POLLIN, 0}, {Err, POLLIN, 0}};
  std::string* Targets[2] = {&Result.Stdout, &Result.Stderr};
  bool Ended = false;
  for (;;) {
    if ((Result.TimedOut = std::chrono::steady_clock::now() > Deadline)) kill(Child, SIGKILL);
    bool Open = Polls[0].fd >= 0 || Polls[1].fd >= 0;
    if (!Ended) Ended = waitpid(Child, &Result.Status, WNOHANG) == Child;
    int Ready = poll(Polls, 2, Ended ? 0 : Open ? 10 : 1);
    if (Ready <= 0 && Ended) break;
    for (int I = 0; I < 2 && Ready > 0; ++I) {
      char Buffer[65536];
      // A terminal ends with EIO, a pipe with 0.
      ssize_t Count = Polls[I].revents ? read(Polls[I].fd, Buffer, sizeof Buffer) : -2;
      if (Count > 0) Targets[I]->append(Buffer, Count);
      if (Count == 0 || Count == -1) Polls[I].fd = -1;
    }
  }
  close(Out);
  close(Err);
}

std::vector<std::string> ProgramLine(const TScenario& Scenario, const std::string& Folder) {
  if (!Scenario.RawCommandLine.empty()) return Helper({"launch", "Z:" + Replace(Program, "/", "\\")});
  std::vector<std::string> Line = Command;
  Line.push_back(Program);
  for (const std::string& Arg : Scenario.Args) Line.push_back(Replace(Arg, "{dir}", Folder));
  return Line;
}

TResult RunProgram(const TScenario& Scenario, TOutput Output, const std::string& Folder) {
  int In[2], Err[2], Out[2] = {open("/dev/null", O_RDONLY), -1};
  if (pipe(In) != 0 || pipe(Err) != 0) ADD_FAILURE() << "no pipe";
  if (Output == TOutput::File) Out[1] = open((Folder + ".out").c_str(), O_WRONLY | O_CREAT, 0644);
  if (Output == TOutput::Full) Out[1] = open("/dev/full", O_WRONLY);
  if (Output == TOutput::Pipe || Output == TOutput::ClosedPipe) {
    close(Out[0]);
    if (pipe(Out) != 0) ADD_FAILURE() << "no pipe";
  } else if (Output == TOutput::Terminal) {
    close(Out[0]);
    struct termios Raw;
    cfmakeraw(&Raw);
    if (openpty(&Out[0], &Out[1], nullptr, &Raw, nullptr) != 0) ADD_FAILURE() << "no terminal";
  }
  // Nobody reads a closed pipe: its read end is gone before the program starts.
  if (Output == TOutput::ClosedPipe) {
    close(Out[0]);
    Out[0] = open("/dev/null", O_RDONLY);
  }
  pid_t Child = Spawn(ProgramLine(Scenario, Folder), Folder, In[0], Out[1], Err[1], [&] {
    if (Scenario.FileSizeLimit) signal(SIGXFSZ, SIG_IGN);
    SetLimit(RLIMIT_FSIZE, Scenario.FileSizeLimit);
    SetLimit(RLIMIT_AS, Scenario.AddressSpaceLimit);
    setenv("QUORVADEL_RAW_COMMAND_LINE", Scenario.RawCommandLine.c_str(), 1);
  });
  close(In[0]);
  close(Err[1]);
  close(Out[1]);
  if (write(In[1], Scenario.Stdin.data(), Scenario.Stdin.size()) != ssize_t(Scenario.Stdin.size()))
    ADD_FAILURE() << "standard input not written";
  close(In[1]);
  TResult Result;
  Drain(Child, Out[0], Err[0], Result);
  if (Output == TOutput::File) Result.Stdout = ReadBytes(Folder + ".out");
  fs::remove(Folder + ".out");
  return Result;
}

void CreateFiles(const TScenario& Scenario, const std::string& Folder) {
  for (TFile File : Scenario.Before) {
    File.Content = Replace(File.Content, "{dir}", Folder);
    CreateFile(Folder, File);
    if (!File.Attributes.empty()) {
      int Null = open("/dev/null", O_RDWR);
      EXPECT_EQ(0, Wait(Spawn(Helper({"attrib", File.Path, File.Attributes}), Folder, Null, Null, Null)))
          << "attributes of " << File.Path;
      close(Null);
    }
  }
}

}  // namespace

bool TFile::operator==(const TFile& Other) const {
  return Path == Other.Path && Content == Other.Content && Mode == Other.Mode && Type == Other.Type;
}

void PrintTo(const TFile& File, std::ostream* Out) {
  static const char* Types[] = {"file", "directory", "fifo", "link"};
  *Out << "\n  " << Types[static_cast<int>(File.Type)] << " " << File.Path << " mode 0" << std::oct
       << File.Mode << std::dec << ": " << ::testing::PrintToString(File.Content);
}

void PrintTo(const TScenario& Scenario, std::ostream* Out) { *Out << Scenario.Name; }

bool TargetIsWindows() { return Windows; }

void RunScenario(const TScenario& Scenario) {
  if (Scenario.AddressSpaceLimit && (!Command.empty() || std::getenv("QUORVADEL_SANITIZED")))
    GTEST_SKIP() << "only a plain program runs under an address-space limit";
  static const char* OutputNames[] = {"file", "pipe", "terminal", "closed", "/dev/full", "closed pipe"};
  for (TOutput Output : Scenario.Outputs) {
    SCOPED_TRACE(std::string("standard output: ") + OutputNames[static_cast<int>(Output)]);
    // wine draws a console on a terminal instead of passing the bytes on.
    if (Windows && Output == TOutput::Terminal) continue;
    char Template[] = "/tmp/quorvadel-scenario-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(Template));
    std::string Folder = Template, Locked = Folder + "/" + Scenario.ReadOnlyFolder;
    CreateFiles(Scenario, Folder);
    if (!Scenario.ReadOnlyFolder.empty() && !LockFolder(Locked, true)) {
      fs::remove_all(Folder);
      GTEST_SKIP() << "cannot make a folder read-only here";
    }
    TResult Result;
    {
      THold Hold;
      if (!Scenario.HeldFile.empty()) {
        EXPECT_TRUE(Hold.Start(Scenario, Folder)) << "file not held";
      }
      Result = RunProgram(Scenario, Output, Folder);
    }
    if (!Scenario.ReadOnlyFolder.empty()) LockFolder(Locked, false);
    std::vector<TFile> Files = Snapshot(Folder);
    fs::remove_all(Folder);

    EXPECT_FALSE(Result.TimedOut) << "the program did not end within " << TimeoutSeconds << " s";
    ASSERT_TRUE(WIFEXITED(Result.Status)) << "ended by signal " << WTERMSIG(Result.Status);
    EXPECT_EQ(Scenario.Exit, WEXITSTATUS(Result.Status));
    EXPECT_EQ(PlatformText(Replace(Scenario.Stdout, "{dir}", Folder)),
              std::regex_replace(Result.Stdout, std::regex("(à|\\xE0|at) [0-9A-F]{8}"), "$1 ADDR"));
    EXPECT_EQ("", Result.Stderr) << "nothing may go to standard error";
    EXPECT_EQ(Expected(Scenario.Unchanged ? Scenario.Before : Scenario.After, Folder), Files);
  }
}

namespace {

class ScenarioTest : public ::testing::Test {
 public:
  explicit ScenarioTest(TScenario Row) : Row(std::move(Row)) {}
  void TestBody() override { RunScenario(Row); }

 private:
  TScenario Row;
};

void Register(const char* Suite, const std::vector<TScenario>& Rows) {
  for (const TScenario& Row : Rows) {
    std::string Name;
    for (char C : Row.Name) Name += std::isalnum(static_cast<unsigned char>(C)) ? C : '_';
    ::testing::RegisterTest(Suite, Name.c_str(), nullptr, Row.Name.c_str(), __FILE__, __LINE__,
                            [=]() -> ::testing::Test* { return new ScenarioTest(Row); });
  }
}

}  // namespace

int main(int ArgC, char** ArgV) {
  ::testing::InitGoogleTest(&ArgC, ArgV);
  if (ArgC < 2) {
    std::fprintf(stderr, "usage: %s [gtest options] [command...] <program>\n", ArgV[0]);
    return 2;
  }
  Command.assign(ArgV + 1, ArgV + ArgC - 1);
  Program = fs::canonical(ArgV[ArgC - 1]).string();
  Windows = Program.size() > 4 && Program.compare(Program.size() - 4, 4, ".exe") == 0;
  Register("Table", ReadScenarios());
  Register("Corpus", CorpusScenarios());
  return RUN_ALL_TESTS();
}
