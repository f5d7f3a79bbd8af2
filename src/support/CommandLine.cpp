#include "CommandLine.h"

namespace {

constexpr size_t MaxUnquotedRun = 4096;

// Reads the argument that starts at Pos, after skipping blanks and pairs of
// quotes; Pos moves past it.
std::string NextArgument(std::string_view Line, size_t& Pos) {
  for (;;) {
    while (Pos < Line.size() && IsBlank(Line[Pos])) ++Pos;
    if (Line.substr(Pos, 2) != "\"\"") break;
    Pos += 2;
  }
  std::string Argument;
  size_t Run = 0;
  while (Pos < Line.size() && !IsBlank(Line[Pos])) {
    if (Line[Pos] == '"') {
      size_t Close = Line.find('"', Pos + 1);
      size_t End = Close == std::string_view::npos ? Line.size() : Close;
      Argument.append(Line.substr(Pos + 1, End - Pos - 1));
      Pos = Close == std::string_view::npos ? End : End + 1;
      Run = 0;
    } else {
      if (Run == MaxUnquotedRun) break;
      Argument += Line[Pos++];
      ++Run;
    }
  }
  return Argument;
}

}  // namespace

bool IsBlank(char Byte) { return static_cast<unsigned char>(Byte) <= 0x20; }

std::string TrimBlanks(std::string_view Text) {
  while (!Text.empty() && IsBlank(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back())) Text.remove_suffix(1);
  return std::string(Text);
}

std::vector<std::string> SplitCommandLine(std::string_view CommandLine) {
  std::vector<std::string> Arguments;
  size_t Pos = 0;
  NextArgument(CommandLine, Pos);  // the program's name
  // Only a lone quote at the very end comes out empty; it ends the list.
  for (std::string Argument; !(Argument = NextArgument(CommandLine, Pos)).empty();)
    Arguments.push_back(Argument);
  return Arguments;
}
