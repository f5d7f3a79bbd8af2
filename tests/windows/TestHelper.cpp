// What the scenarios need done on Windows itself:
//   TestHelper hold FILE SHARE  holds FILE open (SHARE: none, read, or delete: read and
//                               delete), says "ready", and lets go when its standard
//                               input ends
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

int main(int ArgC, char** ArgV) {
  if (ArgC != 4 || std::string(ArgV[1]) != "hold") {
    std::fprintf(stderr, "usage: TestHelper hold FILE SHARE\n");
    return 2;
  }
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
