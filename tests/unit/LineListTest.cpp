#include "support/LineList.h"

#include <gtest/gtest.h>

#include "support/Failures.h"

TEST(SplitLines, Rows) {
  struct {
    std::string Text;
    std::vector<std::string> Want;
  } Rows[] = {
      {"", {}},
      {"1\n2\r3\r\n4", {"1", "2", "3", "4"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"\r\n\r\n", {"", ""}},
      {std::string("ab\0cd\r\nef", 9), {"ab"}},
      {"\xEF\xBB\xBF\tID; \x1A\xFF \r\n", {"\xEF\xBB\xBF\tID; \x1A\xFF "}},
  };
  for (const auto& Row : Rows) {
    LineList List;
    List.Add("left over");
    List.SplitLines(Row.Text);
    std::vector<std::string> Lines;
    for (int I = 0; I < List.Count(); ++I) Lines.push_back(List.Get(I));
    EXPECT_EQ(Row.Want, Lines) << testing::PrintToString(Row.Text);
  }
}

TEST(LineList, PutJoinAndIndexOutOfRange) {
  LineList List;
  List.SplitLines("ID;PWXL;N;E\nC;Y1;X1;K1\rE");
  List.Put(0, "ID;P");
  List.Put(0, "ID;PSCALC3");
  EXPECT_EQ(3, List.Add("x\ny"));
  EXPECT_EQ("ID;PSCALC3\r\nC;Y1;X1;K1\r\nE\r\nx\ny\r\n", List.JoinLines());
  // The list now holds that text: the line given with a break is two.
  EXPECT_EQ("y", List.Get(4));
  EXPECT_THROW(List.Get(5), EStringListError);
  try {
    List.Put(-1, "");
  } catch (const EStringListError& Failure) {
    EXPECT_EQ("Indice de liste hors limites (-1)", Failure.Message);
  }
}
