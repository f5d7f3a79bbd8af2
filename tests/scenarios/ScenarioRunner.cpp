#include "ScenarioRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
constexpr int TimeoutSeconds = 20;

std::string Replace(std::string Text, const std::string& From, const std::string& To) {
  for (size_t Pos = Text.find(From); Pos != std::string::npos; Pos = Text.find(From, Pos + To.size()))
    Text.replace(Pos, From.size(), To);
  return Text;
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
               static_cast<unsigned>(Status.permissions())};
    if (Status.type() == fs::file_type::directory) continue;
    if (Status.type() == fs::file_type::symlink) {
      File.Content = fs::read_symlink(Entry.path()).string();
      File.Type = TType::Symlink;
    } else if (Status.type() == fs::file_type::fifo) File.Type = TType::Fifo;
    else File.Content = ReadBytes(Entry.path());
    Files.push_back(std::move(File));
  }
  std::sort(Files.begin(), Files.end(), [](const TFile& A, const TFile& B) { return A.Path < B.Path; });
  return Files;
}

std::vector<TFile> Expected(std::vector<TFile> Files, const std::string& Folder) {
  std::vector<TFile> Result;
  for (TFile& File : Files) {
    if (File.Type == TType::Directory) continue;
    if (File.Type == TType::Symlink) File.Mode = 0777;
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

[[noreturn]] void StartChild(const TScenario& Scenario, TOutput Output, const std::string& Folder,
                             int Stdin, int Stdout, int Stderr) {
  if (chdir(Folder.c_str()) != 0) _exit(125);
  if (Output == TOutput::File) Stdout = open((Folder + ".out").c_str(), O_WRONLY | O_CREAT, 0644);
  if (Output == TOutput::Full) Stdout = open("/dev/full", O_WRONLY);
  dup2(Stdin, 0);
  dup2(Stderr, 2);
  if (Output == TOutput::Closed) close(1);
  else dup2(Stdout, 1);
  for (int Descriptor = 3; Descriptor < 1024; ++Descriptor) close(Descriptor);
  if (Scenario.FileSizeLimit) signal(SIGXFSZ, SIG_IGN);
  SetLimit(RLIMIT_FSIZE, Scenario.FileSizeLimit);
  SetLimit(RLIMIT_AS, Scenario.AddressSpaceLimit);
  std::vector<std::string> Args = Command;
  Args.push_back(Program);
  for (const std::string& Arg : Scenario.Args) Args.push_back(Replace(Arg, "{dir}", Folder));
  std::vector<char*> Argv;
  for (std::string& Arg : Args) Argv.push_back(Arg.data());
  Argv.push_back(nullptr);
  execvp(Argv[0], Argv.data());
  _exit(127);
}

struct TResult {
  std::string Stdout, Stderr;
  int Status = 0;
  bool TimedOut = false;
};

// Reads both descriptors to their ends (a terminal's ends with EIO).
void Drain(int Out, int Err, TResult& Result) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSeconds);
  struct pollfd Polls[2] = {{Out, POLLIN, 0}, {Err, POLLIN, 0}};
  std::string* Targets[2] = {&Result.Stdout, &Result.Stderr};
  while (Polls[0].fd >= 0 || Polls[1].fd >= 0) {
    if ((Result.TimedOut = std::chrono::steady_clock::now() > Deadline)) return;
    if (poll(Polls, 2, 100) <= 0) continue;
    for (int I = 0; I < 2; ++I) {
      char Buffer[65536];
      ssize_t Count = Polls[I].fd >= 0 && Polls[I].revents ? read(Polls[I].fd, Buffer, sizeof Buffer) : -2;
      if (Count > 0) Targets[I]->append(Buffer, Count);
      if (Count == 0 || Count == -1) {
        close(Polls[I].fd);
        Polls[I].fd = -1;
      }
    }
  }
}

TResult RunProgram(const TScenario& Scenario, TOutput Output, const std::string& Folder) {
  int In[2], Err[2], Out[2] = {open("/dev/null", O_RDONLY), -1};
  if (pipe(In) != 0 || pipe(Err) != 0) ADD_FAILURE() << "no pipe";
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
  pid_t Child = fork();
  if (Child == 0) StartChild(Scenario, Output, Folder, In[0], Out[1], Err[1]);
  close(In[0]);
  close(Err[1]);
  close(Out[1]);
  if (write(In[1], Scenario.Stdin.data(), Scenario.Stdin.size()) != ssize_t(Scenario.Stdin.size()))
    ADD_FAILURE() << "standard input not written";
  close(In[1]);
  TResult Result;
  Drain(Out[0], Err[0], Result);
  if (Result.TimedOut) kill(Child, SIGKILL);
  waitpid(Child, &Result.Status, 0);
  if (Output == TOutput::File) Result.Stdout = ReadBytes(Folder + ".out");
  fs::remove(Folder + ".out");
  return Result;
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

void RunScenario(const TScenario& Scenario) {
  if (Scenario.AddressSpaceLimit && (!Command.empty() || std::getenv("QUORVADEL_SANITIZED")))
    GTEST_SKIP() << "only a plain program runs under an address-space limit";
  static const char* OutputNames[] = {"file", "pipe", "terminal", "closed", "/dev/full", "closed pipe"};
  for (TOutput Output : Scenario.Outputs) {
    SCOPED_TRACE(std::string("standard output: ") + OutputNames[static_cast<int>(Output)]);
    char Template[] = "/tmp/quorvadel-scenario-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(Template));
    std::string Folder = Template, Locked = Folder + "/" + Scenario.ReadOnlyFolder;
    for (TFile File : Scenario.Before) {
      File.Content = Replace(File.Content, "{dir}", Folder);
      CreateFile(Folder, File);
    }
    if (!Scenario.ReadOnlyFolder.empty() && !LockFolder(Locked, true)) {
      fs::remove_all(Folder);
      GTEST_SKIP() << "cannot make a folder read-only here";
    }
    TResult Result = RunProgram(Scenario, Output, Folder);
    if (!Scenario.ReadOnlyFolder.empty()) LockFolder(Locked, false);
    std::vector<TFile> Files = Snapshot(Folder);
    fs::remove_all(Folder);

    EXPECT_FALSE(Result.TimedOut) << "the program did not end within " << TimeoutSeconds << " s";
    ASSERT_TRUE(WIFEXITED(Result.Status)) << "ended by signal " << WTERMSIG(Result.Status);
    EXPECT_EQ(Scenario.Exit, WEXITSTATUS(Result.Status));
    std::string Module = Program.substr(Program.rfind('/') + 1);
    EXPECT_EQ(Replace(Replace(Scenario.Stdout, "{dir}", Folder), "{module}", Module),
              std::regex_replace(Result.Stdout, std::regex("(à|at) [0-9A-F]{8}"), "$1 ADDR"));
    EXPECT_EQ("", Result.Stderr) << "nothing may go to standard error";
    EXPECT_EQ(Expected(Scenario.Unchanged ? Scenario.Before : Scenario.After, Folder), Files);
  }
}

int main(int ArgC, char** ArgV) {
  ::testing::InitGoogleTest(&ArgC, ArgV);
  if (ArgC < 2) {
    std::fprintf(stderr, "usage: %s [gtest options] [command...] <program>\n", ArgV[0]);
    return 2;
  }
  Command.assign(ArgV + 1, ArgV + ArgC - 1);
  Program = fs::canonical(ArgV[ArgC - 1]).string();
  return RUN_ALL_TESTS();
}
