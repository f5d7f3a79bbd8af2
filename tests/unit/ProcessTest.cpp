#include "support/Process.h"

#include <gtest/gtest.h>

#include <regex>

TEST(ExceptionReport, Form) {
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
    std::smatch Match;
    ASSERT_TRUE(std::regex_search(Report, Match,
                                  std::regex("^Exception EFilerError dans le module (\\S+) à "
                                             "[0-9A-F]{8}\\.\n")))
        << Report;
    EXPECT_NE(std::string::npos, Match[1].str().find("UnitTests")) << Match[1];
    std::string WantTail =
        Row.Message.size() > 1024 ? std::string(1024 - Match.length(0), 'm') : Row.WantTail;
    EXPECT_EQ(WantTail, Report.substr(Match.length(0))) << Report;
  }
}
