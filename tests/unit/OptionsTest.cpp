#include "Options.h"
#include "support/Platform.h"

#include <gtest/gtest.h>

// Each row: the arguments, then the answer and every slot that is on.
TEST(ParseArguments, Rows) {
  struct {
    std::vector<std::string> Arguments;
    const char* Want;
  } Rows[] = {
      {{"-F my list.txt "}, "run list[my list.txt] backup[] ext[bak]"},
      {{"*.slk", "-B-", "-b+"}, "run spec[*.slk] backup[] ext[bak]"},
      {{"*.slk", "-B-", "-B"}, "run spec[*.slk] ext[bak]"},
      {{"*.slk", "-Bx"}, "run spec[*.slk] backup[] ext[bak]"},
      {{"a.slk", "-e+", "-E-"}, "run spec[a.slk] backup[] ext[bak]"},
      {{"-Xold", "-xOLD"}, "help backup[] ext[OLD]"},
      {{"-Quiet", "a.slk"}, "run spec[a.slk] quiet[] backup[] ext[bak]"},
      {{"a.slk", "-?"}, "help spec[a.slk] backup[] ext[bak]"},
      {{"a.slk", "-", "-q"}, "help spec[a.slk] quiet[] backup[] ext[bak]"},
      {{"-Q-", "a.slk", "b.slk"}, "run spec[b.slk] quiet[] backup[] ext[bak]"},
      {{" \t a.slk \x01"}, "run spec[a.slk] backup[] ext[bak]"},
      // After "--" every argument is a file where the platform has it; elsewhere "--" is a switch.
      {{"--", "-B-.slk"}, *Platform::EndOfSwitches() ? "run spec[-B-.slk] backup[] ext[bak]" : "help ext[bak]"},
  };
  const char* Names[] = {"spec", "quiet", "halt", "list", "backup", "ext"};
  for (const auto& Row : Rows) {
    CreateOptions();
    SetDefaultOptions();
    std::string Table = ParseArguments(Row.Arguments) ? "run" : "help";
    for (uint8_t Slot = 0; Slot < OptionCount; ++Slot)
      if (OptionTable[Slot].Enabled) Table += std::string(" ") + Names[Slot] + "[" + OptionTable[Slot].Value + "]";
    EXPECT_EQ(Row.Want, Table) << Row.Arguments.front();
  }
}
