// Real SYLK files written by spreadsheet programs, where the shared corpus is
// at hand (QUORVADEL_CORPUS names its folder): each one is a scenario whose
// expected bytes come from an independent split of its lines.
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "ScenarioRunner.h"

namespace {

// The file as the program must write it: "ID;PSCALC3", then every other line
// of the text before its first NUL, each ended by CR LF.
std::string Rewritten(const std::string& Original) {
  std::string Text = Original.substr(0, Original.find('\0'));
  const std::regex Break("\r\n|\r|\n");
  std::string Result = "ID;PSCALC3\r\n";
  std::sregex_token_iterator Line(Text.begin(), Text.end(), Break, -1), End;
  for (++Line; Line != End; ++Line) Result += Line->str() + "\r\n";
  return Result;
}

}  // namespace

std::vector<TScenario> CorpusScenarios() {
  const char* Folder = std::getenv("QUORVADEL_CORPUS");
  std::vector<TScenario> Rows;
  if (Folder == nullptr || !std::filesystem::is_directory(Folder)) return Rows;
  for (const auto& Entry : std::filesystem::directory_iterator(Folder)) {
    std::string Name = Entry.path().filename().string();
    if (Entry.path().extension() != ".slk") continue;
    std::ostringstream Bytes;
    Bytes << std::ifstream(Entry.path(), std::ios::binary).rdbuf();
    std::string Backup = Entry.path().stem().string() + ".bak";
    TScenario Row{.Name = Name, .Before = {{Name, Bytes.str()}}, .Args = {Name}};
    Row.Stdout = "Quorvadel v.1.0 - SYLK files for SCALC3\r\n\r\nFile list built (1 files)\r\n"
                 "Processing: [1] " + Name + "\r\n";
    if (Bytes.str().compare(0, 3, "ID;") == 0) {
      Row.Stdout += "  renamed as " + Backup + "\r\n  successfully updated\r\n";
      Row.After = {{Backup, Bytes.str()}, {Name, Rewritten(Bytes.str())}};
    } else {
      Row.Stdout += "  ERROR! File is not a SYLK file\r\n";
      Row.Unchanged = true;
    }
    Rows.push_back(Row);
  }
  return Rows;
}
