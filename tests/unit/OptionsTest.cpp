#include "Options.h"

#include <gtest/gtest.h>

namespace {

// The table after parsing: the result, then every slot that is on.
std::string Parse(const std::vector<std::string>& Arguments) {
  CreateOptions();
  SetDefaultOptions();
  std::string Table = ParseArguments(Arguments) ? "run" : "help";
  const char* Names[] = {"spec", "quiet", "halt", "list", "backup", "ext"};
  for (uint8_t Slot = 0; Slot < OptionCount; ++Slot) {
    const TOption& Option = *OptionTable[Slot];
    if (Option.Enabled) Table += std::string(" ") + Names[Slot] + "[" + Option.Value + "]";
  }
  FreeOptions();
  return Table;
}

}  // namespace

TEST(ParseArguments, Rows) {
  struct {
    std::vector<std::string> Arguments;
    const char* Want;
  } Rows[] = {
      {{"*.slk"}, "run spec[*.slk] backup[] ext[bak]"},
      {{"-Flist.txt"}, "run list[list.txt] backup[] ext[bak]"},
      {{"-F my list.txt "}, "run list[my list.txt] backup[] ext[bak]"},
      {{"-F"}, "run list[] backup[] ext[bak]"},
      {{"*.slk", "-B-"}, "run spec[*.slk] ext[bak]"},
      {{"*.slk", "-B-", "-b+"}, "run spec[*.slk] backup[] ext[bak]"},
      {{"*.slk", "-B-", "-B"}, "run spec[*.slk] ext[bak]"},
      {{"*.slk", "-Bx"}, "run spec[*.slk] backup[] ext[bak]"},
      {{"*.slk", "+B"}, "run spec[+B] backup[] ext[bak]"},
      {{"a.slk", "-E+"}, "run spec[a.slk] halt[] backup[] ext[bak]"},
      {{"a.slk", "-e+", "-E-"}, "run spec[a.slk] backup[] ext[bak]"},
      {{"-Xold", "-xOLD"}, "help backup[] ext[OLD]"},
      {{"a.slk", "-H"}, "help spec[a.slk] backup[] ext[bak]"},
      {{"-Quiet", "a.slk"}, "run spec[a.slk] quiet[] backup[] ext[bak]"},
      {{"-Q-", "a.slk"}, "run spec[a.slk] quiet[] backup[] ext[bak]"},
      {{"a.slk", "b.slk"}, "run spec[b.slk] backup[] ext[bak]"},
      {{" \t a.slk \x01"}, "run spec[a.slk] backup[] ext[bak]"},
      {{"", "a.slk"}, "run spec[a.slk] backup[] ext[bak]"},
  };
  for (const auto& Row : Rows) {
    std::string Name;
    for (const std::string& Argument : Row.Arguments) Name += "[" + Argument + "]";
    SCOPED_TRACE(Name);
    EXPECT_EQ(Row.Want, Parse(Row.Arguments));
  }
}
