#include "Options.h"

#include <string_view>

#include "support/CommandLine.h"
#include "support/Platform.h"

std::array<TOption, OptionCount> OptionTable;
std::vector<std::string> FileSpecs;

namespace {

enum class TSwitchKind {
  Flag,   // on; anything after the letter is ignored (-Quiet)
  Value,  // on, with the rest of the argument as its value (-Flist.txt)
  Sign,   // the third byte sets it: "+" on, "-" off, anything else nothing
};

struct TSwitch {
  char Letter;
  TOptionIndex Slot;
  TSwitchKind Kind;
};

constexpr TSwitch Switches[] = {
    {'Q', optQuiet, TSwitchKind::Flag},
    {'F', optFileList, TSwitchKind::Value},
    {'X', optBackupExt, TSwitchKind::Value},
    {'B', optBackup, TSwitchKind::Sign},
    {'E', optHaltOnErrors, TSwitchKind::Sign},
};

char UpperAscii(char Byte) { return Byte >= 'a' && Byte <= 'z' ? Byte - 'a' + 'A' : Byte; }

// Applies the switch Argument names; false when it names none.
bool ApplySwitch(const std::string& Argument) {
  if (Argument.size() < 2) return false;
  for (const TSwitch& Switch : Switches) {
    if (Switch.Letter != UpperAscii(Argument[1])) continue;
    TOption& Option = OptionTable[Switch.Slot];
    switch (Switch.Kind) {
      case TSwitchKind::Flag:
        Option.Enabled = true;
        break;
      case TSwitchKind::Value:
        Option.Enabled = true;
        Option.Value = TrimBlanks(std::string_view(Argument).substr(2));
        break;
      case TSwitchKind::Sign:
        if (Argument.size() > 2 && (Argument[2] == '+' || Argument[2] == '-'))
          Option.Enabled = Argument[2] == '+';
        break;
    }
    return true;
  }
  return false;
}

}  // namespace

void CreateOptions() {
  FileSpecs.clear();
  OptionTable = {};
}

void SetDefaultOptions() {
  OptionTable[optBackupExt] = {true, DefaultBackupExt};
  OptionTable[optBackup].Enabled = true;
}

bool ParseCommandLine() { return ParseArguments(Platform::Arguments()); }

bool ParseArguments(const std::vector<std::string>& Arguments) {
  bool Valid = true, SwitchesEnded = false;
  for (const std::string& Given : Arguments) {
    std::string Argument = TrimBlanks(Given);
    // Only blank bytes: no argument at all, like a lone pair of quotes.
    if (Argument.empty()) continue;
    if (!SwitchesEnded && Argument == Platform::EndOfSwitches()) {
      SwitchesEnded = true;
    } else if (SwitchesEnded ||
               std::string_view(Platform::SwitchChars()).find(Argument[0]) == std::string_view::npos) {
      if (!Platform::ShellExpandsPatterns()) FileSpecs.clear();
      FileSpecs.push_back(Platform::ShellExpandsPatterns() ? Given : Argument);
      OptionTable[optFileSpec] = {true, Argument};
    } else if (!ApplySwitch(Argument)) {
      Valid = false;
    }
  }
  return Valid && (OptionTable[optFileSpec].Enabled || OptionTable[optFileList].Enabled);
}
