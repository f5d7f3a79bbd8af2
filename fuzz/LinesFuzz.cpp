// Lines split from any bytes hold no CR, LF or NUL, and once the first is
// replaced (shorter or longer) and all are joined with CR LF, in place or
// not, splitting that text again gives the same lines.
#include <cstdint>
#include <string>
#include <vector>

#include "support/LineList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  LineList Lines, Again;
  Lines.SplitLines(std::string(reinterpret_cast<const char*>(Data), Size));
  if (Lines.Count() > 0) Lines.Put(0, std::string(Size % 24, 'I'));
  std::vector<std::string> Want;
  size_t Length = 0;
  for (int I = 0; I < Lines.Count(); ++I) {
    Want.push_back(Lines.Get(I));
    Length += Want.back().size() + 2;
    if (Want.back().find_first_of(std::string("\r\n\0", 3)) != std::string::npos) __builtin_trap();
  }
  std::string Joined = Lines.JoinLines();
  Again.SplitLines(Joined);
  if (Joined.size() != Length || Again.Count() != static_cast<int>(Want.size())) __builtin_trap();
  for (int I = 0; I < Again.Count(); ++I)
    if (Again.Get(I) != Want[I] || Lines.Get(I) != Want[I]) __builtin_trap();
  return 0;
}
