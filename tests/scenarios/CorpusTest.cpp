// Real SYLK files written by spreadsheet programs, where the shared corpus is
// at hand (QUORVADEL_CORPUS names its folder): each one goes through the
// program as a scenario whose expectations come from an independent split.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "ScenarioRunner.h"

namespace {

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream Bytes;
  Bytes << In.rdbuf();
  return Bytes.str();
}

// The file as the program must write it: "ID;PSCALC3", then every other line
// of the text before its first NUL, each ended by CR LF.
std::string Rewritten(const std::string& Original) {
  std::string Text = Original.substr(0, Original.find('\0'));
  std::string Result = "ID;PSCALC3\r\n";
  const std::regex Break("\r\n|\r|\n");
  std::sregex_token_iterator Line(Text.begin(), Text.end(), Break, -1), End;
  bool First = true;
  for (; Line != End; ++Line) {
    if (!First) Result += Line->str() + "\r\n";
    First = false;
  }
  return Result;
}

}  // namespace

TEST(Corpus, EveryFileRewrittenLineForLine) {
  const char* Folder = std::getenv("QUORVADEL_CORPUS");
  DIR* Directory = Folder ? opendir(Folder) : nullptr;
  if (Directory == nullptr) GTEST_SKIP() << "no corpus folder at hand";
  std::vector<std::string> Names;
  while (struct dirent* Entry = readdir(Directory)) {
    std::string Name = Entry->d_name;
    if (Name.size() > 4 && Name.compare(Name.size() - 4, 4, ".slk") == 0) Names.push_back(Name);
  }
  closedir(Directory);
  std::sort(Names.begin(), Names.end());
  ASSERT_FALSE(Names.empty());
  for (const std::string& Name : Names) {
    SCOPED_TRACE(Name);
    std::string Bytes = ReadFile(std::string(Folder) + "/" + Name);
    std::string Backup = Name.substr(0, Name.size() - 4) + ".bak";
    std::string Head = "Quorvadel v.1.0 - SYLK files for SCALC3\r\n\r\nFile list built (1 files)\r\n"
                       "Processing: [1] " + Name + "\r\n";
    TScenario Row{.Name = Name, .Before = {{Name, Bytes}}, .Args = {Name}};
    if (Bytes.compare(0, 3, "ID;") == 0) {
      Row.Stdout = Head + "  renamed as " + Backup + "\r\n  successfully updated\r\n";
      Row.After = {{Backup, Bytes}, {Name, Rewritten(Bytes)}};
    } else {
      Row.Stdout = Head + "  ERROR! File is not a SYLK file\r\n";
      Row.Unchanged = true;
    }
    RunScenario(Row);
  }
}
