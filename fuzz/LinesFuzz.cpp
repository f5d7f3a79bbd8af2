// Splitting text into lines and joining them again: CR LF, a lone CR and a
// lone LF each end a line, the first NUL ends the text, and joining puts
// CR LF after every line.
#include <cstdint>
#include <string>

#include "support/Failures.h"
#include "support/LineList.h"

namespace {

void Require(bool Condition) {
  if (!Condition) __builtin_trap();
}

bool SameLines(const LineList& A, const LineList& B) {
  if (A.Count() != B.Count()) return false;
  for (int I = 0; I < A.Count(); ++I)
    if (A.Get(I) != B.Get(I)) return false;
  return true;
}

// Joined, then split: the same lines, when no line holds CR, LF or NUL.
void CheckRoundTrip(const LineList& Lines) {
  std::string Joined = Lines.JoinLines();
  size_t Size = 0;
  for (int I = 0; I < Lines.Count(); ++I) Size += Lines.Get(I).size() + 2;
  Require(Joined.size() == Size);
  LineList Again;
  Again.SplitLines(Joined);
  Require(SameLines(Lines, Again));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string Text(reinterpret_cast<const char*>(Data), Size);

  LineList Split;
  Split.SplitLines(Text);
  for (int I = 0; I < Split.Count(); ++I)
    Require(Split.Get(I).find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
  CheckRoundTrip(Split);

  // Lines of any other bytes, built with Add and changed with Put.
  LineList Built;
  std::string Line;
  for (char Byte : Text) {
    if (Byte == '\n') Built.Add(Line), Line.clear();
    else if (Byte != '\r' && Byte != '\0') Line += Byte;
  }
  Built.Add(Line);
  Built.Put(0, "ID;PSCALC3");
  Require(Built.Get(0) == "ID;PSCALC3");
  CheckRoundTrip(Built);

  try {
    Split.Get(Split.Count());
    Require(false);
  } catch (const EStringListError&) {
  }
  return 0;
}
