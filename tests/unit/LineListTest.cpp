#include "support/LineList.h"

#include <gtest/gtest.h>

// How a text splits into lines: each row gives the count, then the lines
// joined by "|".
TEST(LineList, SplitLines) {
  struct {
    std::string Text;
    const char* Want;
  } Rows[] = {
      {"", "0:"},
      {"a\r\nb\r\n", "2:a|b"},
      {"a\r\nb", "2:a|b"},
      {"1\n2\r3\r\n4", "4:1|2|3|4"},
      {"a\n\rb", "3:a||b"},
      {"a\r\r\nb", "3:a||b"},
      {"\r\n", "1:"},
      {"\r\n\r\n", "2:|"},
      {std::string("ab\0cd\r\nef", 9), "1:ab"},
      {std::string("\0ab", 3), "0:"},
      {"\xEF\xBB\xBF\t a \x1A\xFF", "1:\xEF\xBB\xBF\t a \x1A\xFF"},
  };
  for (const auto& Row : Rows) {
    LineList List;
    List.SplitLines(Row.Text);
    std::string Got = std::to_string(List.Count()) + ":";
    for (int I = 0; I < List.Count(); ++I) Got += (I > 0 ? "|" : "") + List.Get(I);
    EXPECT_EQ(Row.Want, Got) << Row.Text;
  }
}
