// Runs the built program in a fresh folder and compares everything it
// leaves: standard output to the byte, the exit code, every file. A Windows
// program (its name ends in ".exe") runs through a command such as wine; its
// files are compared by content and read-only state, the permissions there.
//
// Placeholders, in arguments, file contents and the expected output:
// "{dir}" is the scenario's folder (absolute), "{module}" the program's file
// name, "{à}" and "{é}" these letters in the program's code page (UTF-8, or
// Windows-1252). In the output, every code offset ("à 0040ABCD", "at
// 0040ABCD") reads "ADDR".
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
  std::string Attributes{};       // Windows attributes to set: letters r, h, s

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
  std::string HeldFile{};            // held open by another process during the run
  std::string HeldShare{};           // what that process shares: "none" or "read"
  std::string RawCommandLine{};      // the exact Windows command line to start with
};

void PrintTo(const TScenario& Scenario, std::ostream* Out);

// Runs one scenario for each of its outputs and reports every difference.
void RunScenario(const TScenario& Scenario);

// True when the program under test is a Windows program.
bool TargetIsWindows();

// The scenarios of the table, and of the shared corpus of real files.
std::vector<TScenario> ReadScenarios();
std::vector<TScenario> CorpusScenarios();

