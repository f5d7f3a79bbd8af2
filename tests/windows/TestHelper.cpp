// What the scenarios need done on Windows itself:
//   TestHelper launch PROGRAM   starts PROGRAM with the exact command line held
//                               in QUORVADEL_RAW_COMMAND_LINE; exits with its code
//   TestHelper hold FILE SHARE  holds FILE open (SHARE: none or read), says "ready",
//                               and lets go when its standard input ends
//   TestHelper attrib FILE BITS sets FILE's attributes (BITS: letters r h s)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Launch(const char* Program) {
  char Line[32768];
  if (!GetEnvironmentVariableA("QUORVADEL_RAW_COMMAND_LINE", Line, sizeof Line)) return 120;
  STARTUPINFOA Startup = {};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Process;
  if (!CreateProcessA(Program, Line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Startup, &Process))
    return 121;
  WaitForSingleObject(Process.hProcess, INFINITE);
  DWORD Code = 122;
  GetExitCodeProcess(Process.hProcess, &Code);
  return static_cast<int>(Code);
}

int Hold(const char* File, const char* Share) {
  HANDLE Handle = CreateFileA(File, GENERIC_READ, std::strcmp(Share, "read") == 0 ? FILE_SHARE_READ : 0,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) return 123;
  DWORD Written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready\n", 6, &Written, nullptr);
  while (std::getchar() != EOF) {
  }
  CloseHandle(Handle);
  return 0;
}

int SetAttributes(const char* File, const std::string& Bits) {
  DWORD Attributes = 0;
  if (Bits.find('r') != std::string::npos) Attributes |= FILE_ATTRIBUTE_READONLY;
  if (Bits.find('h') != std::string::npos) Attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (Bits.find('s') != std::string::npos) Attributes |= FILE_ATTRIBUTE_SYSTEM;
  return SetFileAttributesA(File, Attributes ? Attributes : FILE_ATTRIBUTE_NORMAL) ? 0 : 124;
}

}  // namespace

int main(int ArgC, char** ArgV) {
  std::string Mode = ArgC > 1 ? ArgV[1] : "";
  if (Mode == "launch" && ArgC == 3) return Launch(ArgV[2]);
  if (Mode == "hold" && ArgC == 4) return Hold(ArgV[2], ArgV[3]);
  if (Mode == "attrib" && ArgC == 4) return SetAttributes(ArgV[2], ArgV[3]);
  std::fprintf(stderr, "usage: TestHelper launch PROGRAM | hold FILE SHARE | attrib FILE BITS\n");
  return 2;
}
