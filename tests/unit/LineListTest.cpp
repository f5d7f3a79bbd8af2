#include "support/LineList.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/Failures.h"

namespace {

std::vector<std::string> Entries(const LineList& List) {
  std::vector<std::string> Result;
  for (int I = 0; I < List.Count(); ++I) Result.push_back(List.Get(I));
  return Result;
}

}  // namespace

TEST(SplitLines, Rows) {
  struct {
    const char* Name;
    std::string Text;
    std::vector<std::string> Want;
  } Rows[] = {
      {"empty text", "", {}},
      {"CR LF after every line", "a\r\nb\r\n", {"a", "b"}},
      {"no final break", "a\r\nb", {"a", "b"}},
      {"LF, CR and CR LF", "1\n2\r3\r\n4", {"1", "2", "3", "4"}},
      {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
      {"CR CR LF is two breaks", "a\r\r\nb", {"a", "", "b"}},
      {"only CR LF", "\r\n", {""}},
      {"two CR LF", "\r\n\r\n", {"", ""}},
      {"NUL ends the text", std::string("ab\0cd\r\nef", 9), {"ab"}},
      {"first byte NUL", std::string("\0ID;", 4), {}},
      {"other bytes stay", "\xEF\xBB\xBF\tID; \x1A\xFF \r\n", {"\xEF\xBB\xBF\tID; \x1A\xFF "}},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    LineList List;
    List.Add("left over");
    List.SplitLines(Row.Text);
    EXPECT_EQ(Row.Want, Entries(List));
  }
}

TEST(JoinLines, EveryLineEndsWithCrLf) {
  LineList List;
  EXPECT_EQ("", List.JoinLines());
  List.Add("");
  EXPECT_EQ("\r\n", List.JoinLines());
  List.SplitLines("ID;PWXL;N;E\nC;Y1;X1;K1\rE");
  List.Put(0, "ID;PSCALC3");
  List.Add("x\ny");
  EXPECT_EQ("ID;PSCALC3\r\nC;Y1;X1;K1\r\nE\r\nx\ny\r\n", List.JoinLines());
}

TEST(LineList, PutReplacesOneEntry) {
  LineList List;
  List.SplitLines("a\nb\nc");
  List.Put(1, "B");
  List.Put(1, "BB");
  EXPECT_EQ(3, List.Add("a"));
  EXPECT_EQ((std::vector<std::string>{"a", "BB", "c", "a"}), Entries(List));
}

TEST(LineList, IndexOutOfRange) {
  LineList List;
  List.SplitLines("a\nb");
  struct {
    const char* Name;
    std::function<void()> Call;
    const char* Message;
  } Rows[] = {
      {"Get(2)", [&] { List.Get(2); }, "Indice de liste hors limites (2)"},
      {"Get(-1)", [&] { List.Get(-1); }, "Indice de liste hors limites (-1)"},
      {"Put(2)", [&] { List.Put(2, "x"); }, "Indice de liste hors limites (2)"},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    try {
      Row.Call();
      ADD_FAILURE() << "no failure raised";
    } catch (const EStringListError& Failure) {
      EXPECT_EQ(Row.Message, Failure.Message);
    }
  }
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Entries(List));
}
