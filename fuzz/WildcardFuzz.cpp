// The wildcard matcher against a plain table of which pattern prefixes match
// which name prefixes. Input: a length byte, that many bytes of pattern, the name.
#include <cstdint>
#include <string>
#include <vector>

#include "support/Wildcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const char* Bytes = reinterpret_cast<const char*>(Data) + 1;
  std::string Pattern(Bytes, std::min<size_t>(Data[0], Size - 1));
  std::string Name(Bytes + Pattern.size(), Size - 1 - Pattern.size());
  // Matched[J]: the name read so far matches the first J bytes of the pattern.
  std::vector<bool> Matched(Pattern.size() + 1, false);
  Matched[0] = true;
  for (size_t J = 0; J < Pattern.size() && Pattern[J] == '*'; ++J) Matched[J + 1] = true;
  for (char Byte : Name) {
    std::vector<bool> Next(Pattern.size() + 1, false);
    for (size_t J = 0; J < Pattern.size(); ++J)
      Next[J + 1] = Pattern[J] == '*' ? Matched[J + 1] || Next[J] || Matched[J]
                                      : Matched[J] && (Pattern[J] == '?' || Pattern[J] == Byte);
    Matched.swap(Next);
  }
  if (MatchesWildcard(Name, Pattern) != Matched[Pattern.size()]) __builtin_trap();
  return 0;
}
