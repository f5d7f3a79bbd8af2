// The process from start to end: module start and stop order, the one way
// out, and the reports that end it when a failure reaches the top.
#pragma once

#include <string>
#include <vector>

#include "Failures.h"

// A module's start and stop actions; either may be null.
struct TModule {
  void (*Start)();
  void (*Stop)();
};

constexpr int ExitUnhandledFailure = 1;

// Starts the process support, then Modules in order, runs Entry and ends
// with EndProcess(0). A failure that reaches the top of Entry ends the
// process with the two-line report and exit code 1; a failure in a module's
// start or stop, or memory running out, with a "Runtime error" line.
[[noreturn]] void RunProcess(int ArgC, char** ArgV, const std::vector<TModule>& Modules,
                             void (*Entry)());

// Stops the started modules in reverse order, the process support last
// (buffered output is written out then), and exits with Code; with 1 instead
// of 0 when that output could not be written.
[[noreturn]] void EndProcess(int Code);

// "Exception <class> dans le module <file> à <offset>." LF "<message>[.]",
// cut to 1024 bytes.
std::string ExceptionReport(const Exception& Failure);

// "Runtime error <N> at <offset>" without its line end.
std::string RuntimeErrorLine(int Number, const void* Address);
