#include "support/Wildcard.h"

#include <gtest/gtest.h>

TEST(MatchesWildcard, Rows) {
  struct {
    const char* Name;
    const char* Pattern;
    bool Want;
  } Rows[] = {
      {"a.slk", "*.slk", true},
      {".slk", "*.slk", true},
      {"a.slk.bak", "*.slk", false},
      {"a.SLK", "*.slk", false},
      {"a.slk", "?.slk", true},
      {"ab.slk", "?.slk", false},
      {"", "*", true},
      {"aXbYc", "a*b*c", true},
      {"acb", "a*b*c", false},
      {"abab", "*ab", true},
      {"mississippi", "m*iss*ppi", true},
      {"mississippi", "m*x*", false},
      {"a", "a**", true},
      {"[a]", "[a]", true},
      {"a", "[a]", false},
      {"a*bc", "a*c", true},
      {"ab**b*x", "*ab**b*", true},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(std::string(Row.Name) + " ~ " + Row.Pattern);
    EXPECT_EQ(Row.Want, MatchesWildcard(Row.Name, Row.Pattern));
  }
}
