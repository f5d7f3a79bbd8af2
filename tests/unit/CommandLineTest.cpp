#include "support/CommandLine.h"

#include <gtest/gtest.h>

TEST(SplitCommandLine, Rows) {
  const std::string Long(5000, 'a');
  struct {
    const char* Name;
    std::string Line;
    std::vector<std::string> Want;
  } Rows[] = {
      {"quoted program name", "\"C:\\My Tools\\prog.exe\" a", {"a"}},
      {"tabs and control bytes separate", "prog\ta\x01" "b\x1f" "c", {"a", "b", "c"}},
      {"stretches join", "prog x\"y z\"w", {"xy zw"}},
      {"pairs of quotes mixed with blanks", "prog  \"\" \"\"\"\" a", {"a"}},
      {"pair of quotes inside an argument", "prog a\"\"b", {"ab"}},
      {"lone quote at the end ends the list", "prog a \"", {"a"}},
      {"quoted blank is an argument", "prog \" \"", {" "}},
      {"high bytes are ordinary", "prog \xe9t\xe9", {"\xe9t\xe9"}},
      {"long unquoted run cut after 4096 bytes", "prog " + Long, {std::string(4096, 'a'), std::string(904, 'a')}},
      {"long quoted stretch kept whole", "prog \"" + Long + "\"", {Long}},
  };
  for (const auto& Row : Rows) EXPECT_EQ(Row.Want, SplitCommandLine(Row.Line)) << Row.Name;
}
