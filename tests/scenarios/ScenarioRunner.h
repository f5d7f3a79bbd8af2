// Runs the built program in a fresh folder and compares everything it
// leaves: standard output to the byte, the exit code, every file.
//
// Placeholders, in arguments, file contents and the expected output:
// "{dir}" is the scenario's folder (absolute), "{module}" the program's file
// name. In the output, every code offset ("à 0040ABCD", "at 0040ABCD") reads
// "ADDR".
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

enum class TType { Regular, Directory, Fifo, Symlink };

struct TFile {
  std::string Path{};   // relative to the scenario's folder
  std::string Content{};  // for a symbolic link, its target
  unsigned Mode = 0644;
  TType Type = TType::Regular;
  std::optional<long long> Time{};  // last-write time, seconds since 1970
  long long Size = -1;            // when set, the file is extended with NULs to it

  bool operator==(const TFile& Other) const;
};

void PrintTo(const TFile& File, std::ostream* Out);

enum class TOutput {
  File,        // a regular file
  Pipe,        // a pipe read to its end
  Terminal,    // a pseudo-terminal in raw mode: a character device
  Closed,      // no standard output at all
  Full,        // /dev/full: every write fails
  ClosedPipe,  // a pipe nobody reads
};

struct TScenario {
  std::string Name{};
  std::vector<TFile> Before{};
  std::vector<std::string> Args{};
  std::string Stdout{};
  int Exit = 0;
  std::vector<TFile> After{};  // every file afterwards (directories aside)
  bool Unchanged = false;    // the files afterwards are those before
  std::vector<TOutput> Outputs = {TOutput::File};
  std::string Stdin{};               // fed through a pipe when not empty
  long long FileSizeLimit = 0;       // bytes; 0: none
  long long AddressSpaceLimit = 0;   // bytes; 0: none
  std::string ReadOnlyFolder{};      // a folder in which nothing can be created
};

void PrintTo(const TScenario& Scenario, std::ostream* Out);

// Runs one scenario for each of its outputs and reports every difference.
void RunScenario(const TScenario& Scenario);

