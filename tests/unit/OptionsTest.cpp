#include "Options.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

namespace {

constexpr std::nullopt_t Off = std::nullopt;

// The table after parsing, in a form that compares at a glance.
struct TTable {
  bool Run;
  std::optional<std::string> FileSpec;
  bool Quiet;
  bool Halt;
  std::optional<std::string> FileList;
  bool Backup;
  std::string BackupExt;

  auto Fields() const { return std::tie(Run, FileSpec, Quiet, Halt, FileList, Backup, BackupExt); }
  bool operator==(const TTable& Other) const { return Fields() == Other.Fields(); }
};

std::ostream& operator<<(std::ostream& Out, const TTable& T) {
  auto Text = [](const std::optional<std::string>& S) { return S ? "\"" + *S + "\"" : "off"; };
  return Out << "{run " << T.Run << ", spec " << Text(T.FileSpec) << ", quiet " << T.Quiet
             << ", halt " << T.Halt << ", list " << Text(T.FileList) << ", backup " << T.Backup
             << ", ext \"" << T.BackupExt << "\"}";
}

TTable Parse(const std::vector<std::string>& Arguments) {
  CreateOptions();
  SetDefaultOptions();
  bool Run = ParseArguments(Arguments);
  auto Value = [](TOptionIndex Slot) -> std::optional<std::string> {
    if (!OptionTable[Slot]->Enabled) return Off;
    return OptionTable[Slot]->Value;
  };
  TTable Table{Run,
               Value(optFileSpec),
               OptionTable[optQuiet]->Enabled,
               OptionTable[optHaltOnErrors]->Enabled,
               Value(optFileList),
               OptionTable[optBackup]->Enabled,
               OptionTable[optBackupExt]->Value};
  FreeOptions();
  return Table;
}

}  // namespace

TEST(ParseArguments, Rows) {
  struct {
    std::vector<std::string> Arguments;
    TTable Want;
  } Rows[] = {
      {{}, {false, Off, false, false, Off, true, "bak"}},
      {{"*.slk"}, {true, "*.slk", false, false, Off, true, "bak"}},
      {{"-Flist.txt"}, {true, Off, false, false, "list.txt", true, "bak"}},
      {{"-F my list.txt "}, {true, Off, false, false, "my list.txt", true, "bak"}},
      {{"-F"}, {true, Off, false, false, "", true, "bak"}},
      {{"*.slk", "-B-"}, {true, "*.slk", false, false, Off, false, "bak"}},
      {{"*.slk", "-B-", "-b+"}, {true, "*.slk", false, false, Off, true, "bak"}},
      {{"*.slk", "-B-", "-B"}, {true, "*.slk", false, false, Off, false, "bak"}},
      {{"*.slk", "-Bx"}, {true, "*.slk", false, false, Off, true, "bak"}},
      {{"*.slk", "+B"}, {true, "+B", false, false, Off, true, "bak"}},
      {{"a.slk", "-E+"}, {true, "a.slk", false, true, Off, true, "bak"}},
      {{"a.slk", "-e+", "-E-"}, {true, "a.slk", false, false, Off, true, "bak"}},
      {{"-x.old", "a.slk"}, {true, "a.slk", false, false, Off, true, ".old"}},
      {{"-X", "a.slk"}, {true, "a.slk", false, false, Off, true, ""}},
      {{"-Xold", "-xOLD"}, {false, Off, false, false, Off, true, "OLD"}},
      {{"a.slk", "-?"}, {false, "a.slk", false, false, Off, true, "bak"}},
      {{"a.slk", "-H"}, {false, "a.slk", false, false, Off, true, "bak"}},
      {{"a.slk", "-"}, {false, "a.slk", false, false, Off, true, "bak"}},
      {{"a.slk", "-Z", "-Q"}, {false, "a.slk", true, false, Off, true, "bak"}},
      {{"-q"}, {false, Off, true, false, Off, true, "bak"}},
      {{"-Quiet", "a.slk"}, {true, "a.slk", true, false, Off, true, "bak"}},
      {{"-Q-", "a.slk"}, {true, "a.slk", true, false, Off, true, "bak"}},
      {{"a.slk", "b.slk"}, {true, "b.slk", false, false, Off, true, "bak"}},
      {{" \t a.slk \x01"}, {true, "a.slk", false, false, Off, true, "bak"}},
      {{"", " ", "\x01\x1f"}, {false, Off, false, false, Off, true, "bak"}},
      {{"", "a.slk"}, {true, "a.slk", false, false, Off, true, "bak"}},
      {{"*.slk", "-Flist.txt"}, {true, "*.slk", false, false, "list.txt", true, "bak"}},
  };
  for (const auto& Row : Rows) {
    std::string Name;
    for (const std::string& Argument : Row.Arguments) Name += "[" + Argument + "]";
    SCOPED_TRACE(Name);
    EXPECT_EQ(Row.Want, Parse(Row.Arguments));
  }
}
