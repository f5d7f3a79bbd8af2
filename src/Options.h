// The tool's whole configuration: six option slots, created with their
// defaults at start-up and filled from the command line.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum TOptionIndex : uint8_t {
  optFileSpec,
  optQuiet,
  optHaltOnErrors,
  optFileList,
  optBackup,
  optBackupExt,
  OptionCount
};

struct TOption {
  bool Enabled = false;
  std::string Value;
};

constexpr const char* DefaultBackupExt = "bak";

extern std::array<TOption, OptionCount> OptionTable;
// The file specifications in the order given: every positional argument,
// as typed (untrimmed), where the platform says so, otherwise the last one
// only. Slot optFileSpec holds the last one, trimmed.
extern std::vector<std::string> FileSpecs;

// Empties the table and the file specifications.
void CreateOptions();
void SetDefaultOptions();

// Reads the process's arguments into the table: true means run, false means
// show the help page (an unknown switch, or neither a file specification nor
// a list file).
bool ParseCommandLine();
bool ParseArguments(const std::vector<std::string>& Arguments);
