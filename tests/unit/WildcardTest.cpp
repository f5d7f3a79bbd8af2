#include "support/Wildcard.h"

#include <gtest/gtest.h>

TEST(MatchesWildcard, Rows) {
  struct {
    const char *Name, *Pattern;
    bool Want;
  } Rows[] = {
      {".slk", "*.slk", true},   {"a.slk.bak", "*.slk", false}, {"a.SLK", "*.slk", false},
      {"ab.slk", "a?.slk", true}, {"a.slk", "a?.slk", false},   {"abc.slk", "a?.slk", false},
      {"", "*", true},           {"acb", "a*b*c", false},       {"abab", "*ab", true},
      {"mississippi", "m*iss*ppi", true}, {"mississippi", "m*x*", false}, {"a", "a**", true},
      {"[a]", "[a]", true},      {"a", "[a]", false},
      // Found by the fuzzer: a star in the pattern is a wildcard facing a star in the name.
      {"a*bc", "a*c", true},     {"ab**b*x", "*ab**b*", true},
  };
  for (const auto& Row : Rows) EXPECT_EQ(Row.Want, MatchesWildcard(Row.Name, Row.Pattern)) << Row.Name;
}
