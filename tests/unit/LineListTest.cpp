#include "support/LineList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/Failures.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Entries(const LineList& List) {
  std::vector<std::string> Result;
  for (int I = 0; I < List.Count(); ++I) Result.push_back(List.Get(I));
  return Result;
}

std::string ReadBytes(const fs::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

void WriteBytes(const fs::path& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary) << Bytes;
}

// A fresh, empty folder for one test, removed afterwards.
class LineListFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = fs::temp_directory_path() /
             ("linelist-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(Folder);
    fs::create_directories(Folder);
  }
  void TearDown() override { fs::remove_all(Folder); }
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> Names;
    for (const auto& Entry : fs::directory_iterator(Folder)) Names.push_back(Entry.path().filename().string());
    std::sort(Names.begin(), Names.end());
    return Names;
  }
  fs::path Folder;
};

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

TEST_F(LineListFiles, LoadTellsWhetherNulHidAnything) {
  struct {
    const char* Name;
    std::string Bytes;
    bool Whole;
    std::vector<std::string> Want;
  } Rows[] = {
      {"no NUL", "ID;P\r\nE", true, {"ID;P", "E"}},
      {"NUL padding", std::string("ID;P\r\n\0\0\0", 9), true, {"ID;P"}},
      {"bytes after a NUL", std::string("ID;P\r\n\0E\r\n", 10), false, {"ID;P"}},
      {"empty file", "", true, {}},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    WriteBytes(Folder / "f.slk", Row.Bytes);
    LineList List;
    EXPECT_EQ(Row.Whole, List.LoadLines((Folder / "f.slk").string()));
    EXPECT_EQ(Row.Want, Entries(List));
  }
}

TEST_F(LineListFiles, LoadOfMissingFileKeepsEntries) {
  LineList List;
  List.Add("kept");
  std::string Path = (Folder / "missing.slk").string();
  try {
    List.LoadLines(Path);
    ADD_FAILURE() << "no failure raised";
  } catch (const EFOpenError& Failure) {
    EXPECT_EQ("Impossible d'ouvrir le fichier " + Path, Failure.Message);
  }
  EXPECT_EQ(std::vector<std::string>{"kept"}, Entries(List));
}

TEST_F(LineListFiles, SaveReplacesWholeFileAndLeavesNothingElse) {
  std::string Path = (Folder / "a.slk").string();
  WriteBytes(Path, std::string(100, 'x'));
  LineList List;
  List.Add("a");
  List.Add("b");
  List.SaveLines(Path, Path);
  EXPECT_EQ("a\r\nb\r\n", ReadBytes(Path));
  List.Clear();
  List.SaveLines(Path, Path);
  EXPECT_EQ("", ReadBytes(Path));
  EXPECT_EQ(std::vector<std::string>{"a.slk"}, FolderNames());
}

TEST_F(LineListFiles, SaveIntoMissingFolderRaises) {
  std::string Path = (Folder / "no" / "a.slk").string();
  LineList List;
  List.Add("a");
  try {
    List.SaveLines(Path, Path);
    ADD_FAILURE() << "no failure raised";
  } catch (const EFCreateError& Failure) {
    EXPECT_EQ("Impossible de créer le fichier " + Path, Failure.Message);
  }
  EXPECT_TRUE(FolderNames().empty());
}
