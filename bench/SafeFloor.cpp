// The safe floor: for the files named, only the calls that make the update
// safe, with one flush for the whole batch. What quorvadel does beyond them
// (the presence and refusal tests, the checks after the exchange, its
// output) is measured against it. Stops at the first call that fails.
//   SafeFloor FILE...
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

struct TFile {
  std::string Name, Folder;
  int New;  // the new content, without a name until it takes Name's
};

void Check(bool Done, const std::string& What) {
  if (Done) return;
  std::perror(What.c_str());
  std::exit(1);
}

// The first line replaced by ID;PSCALC3, every line ended by CR LF.
std::string Convert(const std::string& Text) {
  std::string Out = "ID;PSCALC3\r\n";
  size_t At = Text.find_first_of("\r\n");
  if (At == std::string::npos) return Out;
  for (At += Text.compare(At, 2, "\r\n") == 0 ? 2 : 1; At < Text.size(); ++At) {
    if (Text[At] != '\r' && Text[At] != '\n') Out += Text[At];
    else Out += "\r\n";
    if (Text[At] == '\r' && At + 1 < Text.size() && Text[At + 1] == '\n') ++At;
  }
  if (Out.back() != '\n') Out += "\r\n";
  return Out;
}

TFile Write(const std::string& Name) {
  size_t Slash = Name.rfind('/'), Dot = Name.rfind('.');
  TFile File{Name, Slash == std::string::npos ? "." : Name.substr(0, Slash + 1), -1};
  int Old = open(Name.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat Info;
  Check(Old >= 0 && fstat(Old, &Info) == 0, Name);
  std::string Text(Info.st_size, '\0');
  Check(read(Old, &Text[0], Text.size()) == static_cast<ssize_t>(Text.size()), Name);
  close(Old);
  std::string Out = Convert(Text);
  File.New = open(File.Folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  Check(File.New >= 0 && write(File.New, Out.data(), Out.size()) == static_cast<ssize_t>(Out.size()), Name);
  Check(fchmod(File.New, Info.st_mode & 07777) == 0, Name);
  bool HasExtension = Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash);
  std::string Backup = (HasExtension ? Name.substr(0, Dot) : Name) + ".bak";
  Check(link(Name.c_str(), Backup.c_str()) == 0, Backup);
  return File;
}

}  // namespace

int main(int ArgC, char** ArgV) {
  // Every new file stays open until it takes its name, after the flush.
  struct rlimit Limit;
  if (getrlimit(RLIMIT_NOFILE, &Limit) == 0) {
    Limit.rlim_cur = Limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &Limit);
  }
  std::vector<TFile> Files;
  for (int I = 1; I < ArgC; ++I) Files.push_back(Write(ArgV[I]));
  if (Files.empty()) return 0;
  Check(syncfs(Files.front().New) == 0, "syncfs");
  std::set<std::string> Folders;
  for (const TFile& File : Files) {
    std::string Self = "/proc/self/fd/" + std::to_string(File.New), Temporary = File.Name + ".new";
    Check(linkat(AT_FDCWD, Self.c_str(), AT_FDCWD, Temporary.c_str(), AT_SYMLINK_FOLLOW) == 0, Temporary);
    Check(renameat2(AT_FDCWD, Temporary.c_str(), AT_FDCWD, File.Name.c_str(), RENAME_EXCHANGE) == 0, File.Name);
    Check(unlink(Temporary.c_str()) == 0 && close(File.New) == 0, Temporary);
    Folders.insert(File.Folder);
  }
  for (const std::string& Folder : Folders) {
    int Descriptor = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Check(Descriptor >= 0 && fsync(Descriptor) == 0, Folder);
  }
}
