// Lines split from any bytes hold no CR, LF or NUL, and joined with CR LF
// then split again they come back the same.
#include <cstdint>
#include <string>

#include "support/LineList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  LineList Lines, Again;
  Lines.SplitLines(std::string(reinterpret_cast<const char*>(Data), Size));
  std::string Joined = Lines.JoinLines();
  Again.SplitLines(Joined);
  if (Again.Count() != Lines.Count()) __builtin_trap();
  size_t Length = 0;
  for (int I = 0; I < Lines.Count(); ++I) {
    std::string Line = Lines.Get(I);
    Length += Line.size() + 2;
    if (Line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos || Again.Get(I) != Line)
      __builtin_trap();
  }
  if (Joined.size() != Length) __builtin_trap();
  return 0;
}
