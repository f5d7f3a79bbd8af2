// What the scenarios need done on Windows itself:
//   TestHelper launch PROGRAM   starts PROGRAM with the exact command line held
//                               in QUORVADEL_RAW_COMMAND_LINE; exits with its code
//   TestHelper hold FILE SHARE  holds FILE open (SHARE: none, read, or delete: read and
//                               delete), says "ready",
//                               and lets go when its standard input ends
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

int main(int ArgC, char** ArgV) {
  std::string Mode = ArgC == 4 || ArgC == 3 ? ArgV[1] : "";
  if (Mode == "launch") {
    char Line[32768];
    STARTUPINFOA Startup = {};
    Startup.cb = sizeof Startup;
    PROCESS_INFORMATION Process;
    DWORD Code = 120;
    if (GetEnvironmentVariableA("QUORVADEL_RAW_COMMAND_LINE", Line, sizeof Line) &&
        CreateProcessA(ArgV[2], Line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Startup, &Process)) {
      WaitForSingleObject(Process.hProcess, INFINITE);
      GetExitCodeProcess(Process.hProcess, &Code);
    }
    return static_cast<int>(Code);
  }
  if (Mode == "hold" && ArgC == 4) {
    std::string Share = ArgV[3];
    DWORD Mode = Share == "read" ? FILE_SHARE_READ : Share == "delete" ? FILE_SHARE_READ | FILE_SHARE_DELETE : 0;
    HANDLE File = CreateFileA(ArgV[2], GENERIC_READ, Mode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) return 123;
    std::printf("ready\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return CloseHandle(File) ? 0 : 124;
  }
  std::fprintf(stderr, "usage: TestHelper launch PROGRAM | hold FILE SHARE\n");
  return 2;
}
