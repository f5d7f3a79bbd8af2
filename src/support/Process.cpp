#include "Process.h"

#include <cstdio>
#include <new>

#include "Format.h"
#include "Platform.h"
#include "StdOut.h"

namespace {

// Numbers of the "Runtime error" line.
constexpr int RuntimeOutOfMemory = 203;
constexpr int RuntimeFailureObject = 217;

std::vector<TModule> ProgramModules;
size_t StartedModules = 0;

[[gnu::noinline]] const void* CurrentCodeAddress() { return __builtin_return_address(0); }

// The module file name and the 8-digit offset that locate a code address.
void LocateCode(const void* Address, std::string& Module, std::string& Offset) {
  uintptr_t Base = 0;
  if (!Platform::ModuleOfAddress(Address, Module, Base)) {
    Module = Platform::ProgramFileName();
    Base = 0x1000;
  }
  char Digits[9];
  std::snprintf(Digits, sizeof Digits, "%08X",
                static_cast<unsigned>((reinterpret_cast<uintptr_t>(Address) - Base) & 0xFFFFFFFFu));
  Offset = Digits;
}

// False when the output still buffered could not be written.
bool StopStartedModules() {
  while (StartedModules > 0) {
    const TModule& Module = ProgramModules[--StartedModules];
    if (Module.Stop != nullptr) Module.Stop();
  }
  return CloseStdOut();
}

// The road of a failure that the report cannot serve: the modules still
// started stop, then one line goes straight to standard output.
[[noreturn]] void EndWithRuntimeError(int Number, const void* Address) {
  try {
    StopStartedModules();
  } catch (...) {
    // Already on the way out: the line below is all that can still be said.
  }
  std::string Line = RuntimeErrorLine(Number, Address) + "\r\n";
  Platform::WriteStdOut(Line.data(), Line.size());
  Platform::Exit(Number);
}

// Runs Step, which starts or stops modules: a failure that escapes it ends
// the process with a "Runtime error" line, not the report.
template <class TStep>
void WithRuntimeError(TStep Step) {
  try {
    Step();
  } catch (const Exception& Failure) {
    EndWithRuntimeError(RuntimeFailureObject, Failure.RaiseAddress);
  } catch (...) {
    EndWithRuntimeError(RuntimeFailureObject, CurrentCodeAddress());
  }
}

[[noreturn]] void ReportUnhandledFailure(const Exception& Failure) {
  WriteStdOutLine(ExceptionReport(Failure));
  // When even the report cannot be written there is nowhere left to say so:
  // the exit code alone tells.
  TakeStdOutError();
  EndProcess(ExitUnhandledFailure);
}

}  // namespace

std::string ExceptionReport(const Exception& Failure) {
  std::string Module, Offset;
  LocateCode(Failure.RaiseAddress, Module, Offset);
  const std::string& Message = Failure.Message;
  bool AddDot = !Message.empty() && Message.back() != '.';
  std::string Report =
      Format(Platform::LocalText("Exception %s dans le module %s à %p.\n%s%s"),
             {Failure.ClassName(), Module, Offset, Message, AddDot ? "." : ""});
  if (Report.size() > 1024) Report.resize(1024);
  return Report;
}

std::string RuntimeErrorLine(int Number, const void* Address) {
  std::string Module, Offset;
  LocateCode(Address, Module, Offset);
  char Field[16];
  std::snprintf(Field, sizeof Field, "%3d", Number);
  return std::string("Runtime error ") + Field + " at " + Offset;
}

void RunProcess(int ArgC, char** ArgV, const std::vector<TModule>& Modules, void (*Entry)()) {
  Platform::StartProcess(ArgC, ArgV);
  ProgramModules = Modules;
  WithRuntimeError([] {
    for (const TModule& Module : ProgramModules) {
      ++StartedModules;
      if (Module.Start != nullptr) Module.Start();
    }
  });
  try {
    Entry();
  } catch (const Exception& Failure) {
    // An attached debugger gets the failure as it was raised.
    if (Platform::DebuggerAttached()) throw;
    ReportUnhandledFailure(Failure);
  } catch (const std::bad_alloc&) {
    EndWithRuntimeError(RuntimeOutOfMemory, CurrentCodeAddress());
  } catch (...) {
    EndWithRuntimeError(RuntimeFailureObject, CurrentCodeAddress());
  }
  EndProcess(0);
}

void EndProcess(int Code) {
  // Output lost at the very end must not pass for a clean run.
  WithRuntimeError([&] {
    if (!StopStartedModules() && Code == 0) Code = ExitUnhandledFailure;
  });
  Platform::Exit(Code);
}
