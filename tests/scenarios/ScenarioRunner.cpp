#include "ScenarioRunner.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>

namespace {

std::string Program;

constexpr int TimeoutSeconds = 20;

std::string Replace(std::string Text, const std::string& From, const std::string& To) {
  for (size_t Pos = Text.find(From); Pos != std::string::npos; Pos = Text.find(From, Pos + To.size()))
    Text.replace(Pos, From.size(), To);
  return Text;
}

std::string ReadBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary | std::ios::ate);
  std::string Bytes(static_cast<size_t>(std::max<std::streamoff>(In.tellg(), 0)), '\0');
  In.seekg(0);
  In.read(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  return Bytes;
}

void MakeParents(const std::string& Folder, const std::string& Path) {
  for (size_t Slash = Path.find('/'); Slash != std::string::npos; Slash = Path.find('/', Slash + 1))
    mkdir((Folder + "/" + Path.substr(0, Slash)).c_str(), 0755);
}

void CreateFiles(const std::string& Folder, const std::vector<TFile>& Files) {
  for (const TFile& File : Files) {
    std::string Path = Folder + "/" + File.Path;
    MakeParents(Folder, File.Path);
    switch (File.Type) {
      case TType::Regular:
        std::ofstream(Path, std::ios::binary) << File.Content;
        if (File.Size >= 0) {
          ASSERT_EQ(0, truncate(Path.c_str(), File.Size)) << Path;
        }
        break;
      case TType::Directory:
        mkdir(Path.c_str(), 0755);
        break;
      case TType::Fifo:
        mkfifo(Path.c_str(), 0644);
        break;
      case TType::Symlink:
        ASSERT_EQ(0, symlink(File.Content.c_str(), Path.c_str())) << Path;
        continue;
    }
    ASSERT_EQ(0, chmod(Path.c_str(), File.Mode)) << Path;
    if (File.Time) {
      struct timespec Times[2] = {{*File.Time, 0}, {*File.Time, 0}};
      ASSERT_EQ(0, utimensat(AT_FDCWD, Path.c_str(), Times, 0)) << Path;
    }
  }
}

// Every entry below Folder but directories, sorted by path.
void Snapshot(const std::string& Folder, const std::string& Prefix, std::vector<TFile>& Files) {
  DIR* Directory = opendir((Folder + "/" + Prefix).c_str());
  if (Directory == nullptr) return;
  while (struct dirent* Entry = readdir(Directory)) {
    std::string Name = Entry->d_name;
    if (Name == "." || Name == "..") continue;
    std::string Relative = Prefix.empty() ? Name : Prefix + "/" + Name;
    std::string Path = Folder + "/" + Relative;
    struct stat Info;
    lstat(Path.c_str(), &Info);
    TFile File{Relative, "", static_cast<unsigned>(Info.st_mode & 07777)};
    if (S_ISDIR(Info.st_mode)) {
      Snapshot(Folder, Relative, Files);
      continue;
    }
    if (S_ISLNK(Info.st_mode)) {
      char Target[4096];
      ssize_t Length = readlink(Path.c_str(), Target, sizeof Target);
      File = {Relative, std::string(Target, std::max<ssize_t>(Length, 0)), 0777, TType::Symlink};
    } else if (S_ISFIFO(Info.st_mode)) {
      File.Type = TType::Fifo;
    } else {
      File.Content = ReadBytes(Path);
    }
    Files.push_back(std::move(File));
  }
  closedir(Directory);
  std::sort(Files.begin(), Files.end(),
            [](const TFile& A, const TFile& B) { return A.Path < B.Path; });
}

std::vector<TFile> Expected(const std::vector<TFile>& Files, const std::string& Folder) {
  std::vector<TFile> Result;
  for (TFile File : Files) {
    if (File.Type == TType::Directory) continue;
    if (File.Type == TType::Symlink) File.Mode = 0777;
    File.Content = Replace(File.Content, "{dir}", Folder);
    if (File.Size >= 0) File.Content.resize(File.Size);
    File.Time.reset();
    File.Size = -1;
    Result.push_back(std::move(File));
  }
  std::sort(Result.begin(), Result.end(),
            [](const TFile& A, const TFile& B) { return A.Path < B.Path; });
  return Result;
}

// A folder in which even root cannot create a file.
bool LockFolder(const std::string& Path, bool Lock) {
  if (geteuid() != 0) return chmod(Path.c_str(), Lock ? 0555 : 0755) == 0;
  std::string Command = std::string("chattr ") + (Lock ? "+i" : "-i") + " '" + Path + "' 2>/dev/null";
  return std::system(Command.c_str()) == 0;
}

struct TResult {
  std::string Stdout;
  std::string Stderr;
  int Status = 0;
  bool TimedOut = false;
};

[[noreturn]] void StartChild(const TScenario& Scenario, TOutput Output, const std::string& Folder,
                             const std::string& OutPath, int StdinRead, int StdoutWrite,
                             int StderrWrite) {
  if (chdir(Folder.c_str()) != 0) _exit(125);
  dup2(StdinRead, 0);
  dup2(StderrWrite, 2);
  switch (Output) {
    case TOutput::File:
      dup2(open(OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      break;
    case TOutput::Closed:
      close(1);
      break;
    case TOutput::Full:
      dup2(open("/dev/full", O_WRONLY), 1);
      break;
    default:
      dup2(StdoutWrite, 1);
  }
  for (int Descriptor = 3; Descriptor < 1024; ++Descriptor) close(Descriptor);
  if (Scenario.FileSizeLimit) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit Limit = {static_cast<rlim_t>(Scenario.FileSizeLimit),
                           static_cast<rlim_t>(Scenario.FileSizeLimit)};
    setrlimit(RLIMIT_FSIZE, &Limit);
  }
  if (Scenario.AddressSpaceLimit) {
    struct rlimit Limit = {static_cast<rlim_t>(Scenario.AddressSpaceLimit),
                           static_cast<rlim_t>(Scenario.AddressSpaceLimit)};
    setrlimit(RLIMIT_AS, &Limit);
  }
  std::vector<std::string> Args = {Program};
  for (const std::string& Arg : Scenario.Args) Args.push_back(Replace(Arg, "{dir}", Folder));
  std::vector<char*> Argv;
  for (std::string& Arg : Args) Argv.push_back(Arg.data());
  Argv.push_back(nullptr);
  execv(Program.c_str(), Argv.data());
  _exit(127);
}

// Reads the two descriptors to their ends (a terminal ends with EIO), up to the timeout.
void Drain(int Out, int Err, TResult& Result) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSeconds);
  struct pollfd Polls[2] = {{Out, POLLIN, 0}, {Err, POLLIN, 0}};
  std::string* Targets[2] = {&Result.Stdout, &Result.Stderr};
  while (Polls[0].fd >= 0 || Polls[1].fd >= 0) {
    if (std::chrono::steady_clock::now() > Deadline) {
      Result.TimedOut = true;
      return;
    }
    if (poll(Polls, 2, 100) <= 0) continue;
    for (int I = 0; I < 2; ++I) {
      if (Polls[I].fd < 0 || Polls[I].revents == 0) continue;
      char Buffer[65536];
      ssize_t Count = read(Polls[I].fd, Buffer, sizeof Buffer);
      if (Count > 0) {
        Targets[I]->append(Buffer, Count);
      } else {
        close(Polls[I].fd);
        Polls[I].fd = -1;
      }
    }
  }
}

TResult RunProgram(const TScenario& Scenario, TOutput Output, const std::string& Folder) {
  std::string OutPath = Folder + ".stdout";
  int In[2], Out[2] = {-1, -1}, Err[2];
  EXPECT_EQ(0, pipe(In));
  EXPECT_EQ(0, pipe(Err));
  if (Output == TOutput::Terminal) {
    EXPECT_EQ(0, openpty(&Out[0], &Out[1], nullptr, nullptr, nullptr));
    struct termios Raw;
    tcgetattr(Out[1], &Raw);
    cfmakeraw(&Raw);
    tcsetattr(Out[1], TCSANOW, &Raw);
  } else if (Output == TOutput::Pipe || Output == TOutput::ClosedPipe) {
    EXPECT_EQ(0, pipe(Out));
  }
  // Nobody reads a closed pipe: its read end is gone before the program starts.
  if (Output == TOutput::ClosedPipe) {
    close(Out[0]);
    Out[0] = -1;
  }
  pid_t Child = fork();
  if (Child == 0) StartChild(Scenario, Output, Folder, OutPath, In[0], Out[1], Err[1]);
  close(In[0]);
  close(Err[1]);
  if (Out[1] >= 0) close(Out[1]);
  if (!Scenario.Stdin.empty()) {
    EXPECT_EQ(static_cast<ssize_t>(Scenario.Stdin.size()),
              write(In[1], Scenario.Stdin.data(), Scenario.Stdin.size()));
  }
  close(In[1]);
  TResult Result;
  if (Out[0] < 0) Out[0] = open("/dev/null", O_RDONLY);
  Drain(Out[0], Err[0], Result);
  if (Result.TimedOut) kill(Child, SIGKILL);
  waitpid(Child, &Result.Status, 0);
  if (Output == TOutput::File) Result.Stdout = ReadBytes(OutPath);
  unlink(OutPath.c_str());
  return Result;
}

const char* OutputName(TOutput Output) {
  switch (Output) {
    case TOutput::File: return "file";
    case TOutput::Pipe: return "pipe";
    case TOutput::Terminal: return "terminal";
    case TOutput::Closed: return "closed";
    case TOutput::Full: return "/dev/full";
    case TOutput::ClosedPipe: return "closed pipe";
  }
  return "?";
}

}  // namespace

bool TFile::operator==(const TFile& Other) const {
  return Path == Other.Path && Content == Other.Content && Mode == Other.Mode &&
         Type == Other.Type;
}

void PrintTo(const TFile& File, std::ostream* Out) {
  static const char* Types[] = {"file", "directory", "fifo", "link"};
  *Out << "\n  " << Types[static_cast<int>(File.Type)] << " " << File.Path << " mode 0"
       << std::oct << File.Mode << std::dec << ": " << ::testing::PrintToString(File.Content);
}

void PrintTo(const TScenario& Scenario, std::ostream* Out) { *Out << Scenario.Name; }

void SetProgram(const std::string& Path) { Program = Path; }

void RunScenario(const TScenario& Scenario) {
  if (Scenario.AddressSpaceLimit && std::getenv("QUORVADEL_SANITIZED"))
    GTEST_SKIP() << "a sanitized program cannot run under an address-space limit";
  std::string Module = Program.substr(Program.rfind('/') + 1);
  for (TOutput Output : Scenario.Outputs) {
    SCOPED_TRACE(std::string("standard output: ") + OutputName(Output));
    char Template[] = "/tmp/quorvadel-scenario-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(Template));
    std::string Folder = Template;
    std::vector<TFile> Before = Scenario.Before;
    for (TFile& File : Before) File.Content = Replace(File.Content, "{dir}", Folder);
    CreateFiles(Folder, Before);
    std::string Locked = Scenario.ReadOnlyFolder.empty() ? "" : Folder + "/" + Scenario.ReadOnlyFolder;
    if (!Locked.empty() && !LockFolder(Locked, true)) {
      std::system(("rm -rf '" + Folder + "'").c_str());
      GTEST_SKIP() << "cannot make a folder read-only here";
    }

    TResult Result = RunProgram(Scenario, Output, Folder);

    if (!Locked.empty()) LockFolder(Locked, false);
    std::vector<TFile> Files;
    Snapshot(Folder, "", Files);
    std::system(("rm -rf '" + Folder + "'").c_str());

    EXPECT_FALSE(Result.TimedOut) << "the program did not end within " << TimeoutSeconds << " s";
    ASSERT_TRUE(WIFEXITED(Result.Status)) << "ended by signal " << WTERMSIG(Result.Status);
    EXPECT_EQ(Scenario.Exit, WEXITSTATUS(Result.Status));
    std::string Stdout = std::regex_replace(Result.Stdout, std::regex("(à|at) [0-9A-F]{8}"), "$1 ADDR");
    std::string Want = Replace(Replace(Scenario.Stdout, "{dir}", Folder), "{module}", Module);
    EXPECT_EQ(Want, Stdout);
    EXPECT_EQ("", Result.Stderr) << "nothing may go to standard error";
    EXPECT_EQ(Expected(Scenario.Unchanged ? Scenario.Before : Scenario.After, Folder), Files);
  }
}

int main(int ArgC, char** ArgV) {
  ::testing::InitGoogleTest(&ArgC, ArgV);
  if (ArgC != 2) {
    std::fprintf(stderr, "usage: %s [gtest options] <program>\n", ArgV[0]);
    return 2;
  }
  char* Absolute = realpath(ArgV[1], nullptr);
  SetProgram(Absolute != nullptr ? Absolute : ArgV[1]);
  std::free(Absolute);
  return RUN_ALL_TESTS();
}
