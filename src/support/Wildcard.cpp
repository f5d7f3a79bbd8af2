#include "Wildcard.h"

bool MatchesWildcard(std::string_view Name, std::string_view Pattern) {
  size_t N = 0, P = 0;
  // Where the last "*" stood, and the name position it was last tried at:
  // on a mismatch that star takes one more byte. Linear in practice, never
  // exponential.
  size_t StarP = std::string_view::npos, StarN = 0;
  while (N < Name.size()) {
    // A "*" in the pattern is a wildcard even facing a "*" in the name.
    if (P < Pattern.size() && Pattern[P] == '*') {
      StarP = P++;
      StarN = N;
    } else if (P < Pattern.size() && (Pattern[P] == '?' || Pattern[P] == Name[N])) {
      ++N;
      ++P;
    } else if (StarP != std::string_view::npos) {
      P = StarP + 1;
      N = ++StarN;
    } else {
      return false;
    }
  }
  while (P < Pattern.size() && Pattern[P] == '*') ++P;
  return P == Pattern.size();
}

bool HasWildcard(std::string_view Pattern) {
  return Pattern.find_first_of("*?") != std::string_view::npos;
}
