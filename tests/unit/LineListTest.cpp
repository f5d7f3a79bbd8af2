#include "support/LineList.h"

#include <gtest/gtest.h>

#include "support/Failures.h"

// How lines are split is shown by the scenario table; here what only the
// list itself shows: a line given with a break, and an index out of range.
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
    ADD_FAILURE() << "no failure raised";
  } catch (const EStringListError& Failure) {
    EXPECT_EQ("Indice de liste hors limites (-1)", Failure.Message);
  }
}
