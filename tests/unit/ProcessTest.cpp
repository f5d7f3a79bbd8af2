#include "support/Process.h"

#include <gtest/gtest.h>

// The report's first line is checked end to end; its second line here.
TEST(ExceptionReport, MessageLine) {
  struct {
    const char* Name;
    std::string Message;
    std::string WantTail;
  } Rows[] = {
      {"dot added", "Impossible d'ouvrir le fichier a.slk", "Impossible d'ouvrir le fichier a.slk."},
      {"no second dot", "Fichier introuvable.", "Fichier introuvable."},
      {"empty message gets no dot", "", ""},
      {"cut to 1024 bytes", std::string(2000, 'm'), ""},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    EFilerError Failure(Row.Message);
    Failure.RaiseAddress = reinterpret_cast<const void*>(&ExceptionReport);
    std::string Report = ExceptionReport(Failure);
    size_t Break = Report.find('\n');
    ASSERT_NE(std::string::npos, Break) << Report;
    std::string WantTail = Row.Message.size() > 1024 ? std::string(1023 - Break, 'm') : Row.WantTail;
    EXPECT_EQ(WantTail, Report.substr(Break + 1));
  }
}
