// Wildcard matching of one name against a table-driven matcher.
//
// Input: a length byte, that many bytes of pattern, then the name.
#include <cstdint>
#include <string>
#include <vector>

#include "support/Wildcard.h"

namespace {

void Require(bool Condition) {
  if (!Condition) __builtin_trap();
}

// Matched[j]: the name read so far matches the first j bytes of Pattern.
bool MatchesByTable(const std::string& Name, const std::string& Pattern) {
  std::vector<char> Matched(Pattern.size() + 1, 0);
  Matched[0] = 1;
  for (size_t J = 0; J < Pattern.size() && Pattern[J] == '*'; ++J) Matched[J + 1] = 1;
  for (char Byte : Name) {
    std::vector<char> Next(Pattern.size() + 1, 0);
    for (size_t J = 0; J < Pattern.size(); ++J) {
      if (Pattern[J] == '*') Next[J + 1] = Matched[J + 1] || Next[J] || Matched[J];
      else Next[J + 1] = Matched[J] && (Pattern[J] == '?' || Pattern[J] == Byte);
    }
    Matched.swap(Next);
  }
  return Matched[Pattern.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  size_t PatternSize = std::min<size_t>(Data[0], Size - 1);
  const char* Bytes = reinterpret_cast<const char*>(Data) + 1;
  std::string Pattern(Bytes, PatternSize), Name(Bytes + PatternSize, Size - 1 - PatternSize);
  bool Matches = MatchesWildcard(Name, Pattern);
  Require(Matches == MatchesByTable(Name, Pattern));
  if (!HasWildcard(Pattern)) Require(Matches == (Name == Pattern));
  return 0;
}
