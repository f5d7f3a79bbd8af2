// The Windows command-line splitter and the option parser, on any bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "Options.h"
#include "support/CommandLine.h"

namespace {

void Require(bool Condition) {
  if (!Condition) __builtin_trap();
}

bool IsTrimmed(const std::string& Value) {
  return Value.empty() || (static_cast<unsigned char>(Value.front()) > 0x20 &&
                           static_cast<unsigned char>(Value.back()) > 0x20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string Line(reinterpret_cast<const char*>(Data), Size);
  std::vector<std::string> Arguments = SplitCommandLine(Line);
  size_t Total = 0;
  for (const std::string& Argument : Arguments) {
    // Quotes join stretches and never belong to an argument; none is empty.
    Require(!Argument.empty() && Argument.find('"') == std::string::npos);
    Total += Argument.size();
  }
  Require(Total <= Size);

  CreateOptions();
  SetDefaultOptions();
  bool Runs = ParseArguments(Arguments);
  Require(!Runs || OptionTable[optFileSpec]->Enabled || OptionTable[optFileList]->Enabled);
  for (int Slot : {optFileSpec, optFileList, optBackupExt}) Require(IsTrimmed(OptionTable[Slot]->Value));
  FreeOptions();
  return 0;
}
