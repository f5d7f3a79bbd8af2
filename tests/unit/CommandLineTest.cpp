#include "support/CommandLine.h"

#include <gtest/gtest.h>

TEST(SplitCommandLine, Rows) {
  const std::string Long(5000, 'a');
  struct {
    const char* Name;
    std::string Line;
    std::vector<std::string> Want;
  } Rows[] = {
      {"program name only", "prog", {}},
      {"quoted program name", "\"C:\\My Tools\\prog.exe\" a", {"a"}},
      {"two words", "prog a.slk -Q", {"a.slk", "-Q"}},
      {"tabs and control bytes separate", "prog\ta\x01" "b\x1f" "c", {"a", "b", "c"}},
      {"quoted space", "prog \"my file.slk\"", {"my file.slk"}},
      {"stretches join", "prog x\"y z\"w", {"xy zw"}},
      {"quotes inside a switch", "prog -F\"my list.txt\"", {"-Fmy list.txt"}},
      {"lone pair of quotes is no argument", "prog \"\" a", {"a"}},
      {"pairs of quotes mixed with blanks", "prog  \"\" \"\"\"\" a", {"a"}},
      {"pair of quotes inside an argument", "prog a\"\"b", {"ab"}},
      {"unclosed quote runs to the end", "prog \"a b", {"a b"}},
      {"lone quote at the end ends the list", "prog a \"", {"a"}},
      {"quoted blank is an argument", "prog \" \"", {" "}},
      {"high bytes are ordinary", "prog \xe9t\xe9", {"\xe9t\xe9"}},
      {"long unquoted run is cut after 4096 bytes", "prog " + Long,
       {std::string(4096, 'a'), std::string(904, 'a')}},
      {"long quoted stretch is kept whole", "prog \"" + Long + "\"", {Long}},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    EXPECT_EQ(Row.Want, SplitCommandLine(Row.Line));
  }
}
