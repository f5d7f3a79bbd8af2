// What the user sees, row by row: files before, arguments, standard output
// to the byte, exit code, files after.
#include <gtest/gtest.h>

#include <cctype>

#include "ScenarioRunner.h"

namespace {

const std::string Banner = "Quorvadel v.1.0 - SYLK files for SCALC3\r\n\r\n";

const std::string Help = Banner +
    "Syntax: Quorvadel [filespec] [-Q] [-F<FileName>] [-X<FileExt>] [+B | -B] [+E | -E]\r\n"
    "\r\n"
    "Options\r\n"
    "  filespec = File name(s) to process\r\n"
    "  -? or -H = Show this help page\r\n"
    "  -Q = Quiet\r\n"
    "  -F<FileName> = File name containing the file list to process (one per line)\r\n"
    "  -X<FileExt>  = Backup extension (without dot)\r\n"
    "\r\n"
    "Switches [default]\r\n"
    "  + = On\r\n"
    "  - = Off\r\n"
    "  B = Backup existing files [+]\r\n"
    "  E = Halt on errors [-]\r\n"
    "\r\n";

// SYLK files as producers write them, and what they become.
const std::string SylkLf = "ID;PWXL;N;E\nC;Y1;X1;K\"a\"\nE\n";
const std::string SylkLfNew = "ID;PSCALC3\r\nC;Y1;X1;K\"a\"\r\nE\r\n";
const std::string SylkCr = "ID;PGnumeric;N;E\rC;Y1;X1;K1\rE";
const std::string SylkCrNew = "ID;PSCALC3\r\nC;Y1;X1;K1\r\nE\r\n";
const std::string SylkHigh = "ID;PCALCOOO32\r\nC;Y1;X1;K\"\xE9t\xE9 \xFF\x80\"\r\nE\r\n";
const std::string SylkHighNew = "ID;PSCALC3\r\nC;Y1;X1;K\"\xE9t\xE9 \xFF\x80\"\r\nE\r\n";
const std::string NotSylk = "# not a spreadsheet\n";

const std::string Built1 = "File list built (1 files)\r\n";
const std::string Updated = "  successfully updated\r\n";
const std::string NotSylkError = "  ERROR! File is not a SYLK file\r\n";
const std::string Halted = "  Process halted\r\n";

const std::vector<TOutput> AllOutputs = {TOutput::File, TOutput::Pipe, TOutput::Terminal};

class Scenario : public ::testing::TestWithParam<TScenario> {};

TEST_P(Scenario, Runs) { RunScenario(GetParam()); }

std::string RowName(const ::testing::TestParamInfo<TScenario>& Info) {
  std::string Name;
  for (char C : Info.param.Name) Name += std::isalnum(static_cast<unsigned char>(C)) ? C : '_';
  return Name;
}

#define SCENARIOS(Group, ...)                     \
  const TScenario Group##Rows[] = {__VA_ARGS__}; \
  INSTANTIATE_TEST_SUITE_P(Group, Scenario, ::testing::ValuesIn(Group##Rows), RowName)

SCENARIOS(Help,
  TScenario{.Name = "no arguments", .Stdout = Help, .Outputs = AllOutputs},
  TScenario{.Name = "quiet alone prints nothing", .Args = {"-Q"}},
  TScenario{.Name = "question mark", .Before = {{"a.slk", SylkLf}}, .Args = {"a.slk", "-?"},
            .Stdout = Help, .Unchanged = true},
  TScenario{.Name = "H switch", .Before = {{"a.slk", SylkLf}}, .Args = {"a.slk", "-h"},
            .Stdout = Help, .Unchanged = true},
  TScenario{.Name = "dash alone", .Args = {"-"}, .Stdout = Help},
  TScenario{.Name = "unknown switch silenced by quiet", .Before = {{"a.slk", SylkLf}},
            .Args = {"a.slk", "-Z", "-Q"}, .Unchanged = true},
  TScenario{.Name = "quiet without a file", .Args = {"-q"}},
  TScenario{.Name = "blank arguments are no arguments", .Args = {"", " \t"}, .Stdout = Help},
);

SCENARIOS(Backup,
  TScenario{.Name = "LF file", .Before = {{"a.slk", SylkLf}}, .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", SylkLf}, {"a.slk", SylkLfNew}}, .Outputs = AllOutputs},
  TScenario{.Name = "lone CR and no final break", .Before = {{"a.slk", SylkCr}}, .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", SylkCr}, {"a.slk", SylkCrNew}}},
  TScenario{.Name = "CR LF and high bytes", .Before = {{"a.slk", SylkHigh}}, .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", SylkHigh}, {"a.slk", SylkHighNew}}},
  TScenario{.Name = "first line exactly ID;", .Before = {{"a.slk", "ID;"}}, .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", "ID;"}, {"a.slk", "ID;PSCALC3\r\n"}}},
  TScenario{.Name = "record already there", .Before = {{"a.slk", "ID;PSCALC3\nE"}},
            .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", "ID;PSCALC3\nE"}, {"a.slk", "ID;PSCALC3\r\nE\r\n"}}},
  TScenario{.Name = "trailing NUL padding is dropped",
            .Before = {{"a.slk", std::string("ID;P\r\nE\r\n\0\0\0", 12)}}, .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", std::string("ID;P\r\nE\r\n\0\0\0", 12)},
                      {"a.slk", "ID;PSCALC3\r\nE\r\n"}}},
  TScenario{.Name = "other extension", .Before = {{"a.slk", SylkLf}}, .Args = {"a.slk", "-Xold"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.old\r\n" + Updated,
            .After = {{"a.old", SylkLf}, {"a.slk", SylkLfNew}}},
  TScenario{.Name = "extension with its dot", .Before = {{"a.slk", SylkLf}},
            .Args = {"-x.old", "a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a..old\r\n" + Updated,
            .After = {{"a..old", SylkLf}, {"a.slk", SylkLfNew}}},
  TScenario{.Name = "empty extension", .Before = {{"a.slk", SylkLf}}, .Args = {"-X", "a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.\r\n" + Updated,
            .After = {{"a.", SylkLf}, {"a.slk", SylkLfNew}}},
  TScenario{.Name = "name without extension", .Before = {{"book", SylkLf}}, .Args = {"book"},
            .Stdout = Banner + Built1 + "Processing: [1] book\r\n  renamed as book.bak\r\n" + Updated,
            .After = {{"book", SylkLfNew}, {"book.bak", SylkLf}}},
  TScenario{.Name = "dot in the folder name", .Before = {{"backup.old/book", SylkLf}},
            .Args = {"backup.old/book"},
            .Stdout = Banner + Built1 + "Processing: [1] backup.old/book\r\n"
                      "  renamed as backup.old/book.bak\r\n" + Updated,
            .After = {{"backup.old/book", SylkLfNew}, {"backup.old/book.bak", SylkLf}}},
  TScenario{.Name = "backup already there", .Before = {{"a.bak", "old"}, {"a.slk", SylkLf}},
            .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n"
                      "  ERROR! Can't rename a.slk into a.bak\r\n",
            .Unchanged = true},
  TScenario{.Name = "backup already there halts", .Before = {{"a.bak", "old"}, {"a.slk", SylkLf}},
            .Args = {"a.slk", "-E+"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n"
                      "  ERROR! Can't rename a.slk into a.bak\r\n" + Halted,
            .Exit = 4, .Unchanged = true},
  TScenario{.Name = "backup name is the file itself", .Before = {{"a.slk", SylkLf}},
            .Args = {"a.slk", "-Xslk", "-E+"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n"
                      "  ERROR! Can't rename a.slk into a.slk\r\n" + Halted,
            .Exit = 4, .Unchanged = true},
  TScenario{.Name = "not SYLK stays untouched", .Before = {{"notes.txt", NotSylk}},
            .Args = {"notes.txt"},
            .Stdout = Banner + Built1 + "Processing: [1] notes.txt\r\n" + NotSylkError,
            .Unchanged = true},
  TScenario{.Name = "not SYLK halts", .Before = {{"notes.txt", NotSylk}},
            .Args = {"notes.txt", "-E+"},
            .Stdout = Banner + Built1 + "Processing: [1] notes.txt\r\n" + NotSylkError + Halted,
            .Exit = 2, .Unchanged = true},
  TScenario{.Name = "empty file is not SYLK", .Before = {{"a.slk", ""}}, .Args = {"a.slk", "-E+"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n" + NotSylkError + Halted,
            .Exit = 2, .Unchanged = true},
  TScenario{.Name = "bytes after a NUL", .Before = {{"a.slk", std::string("ID;P\r\n\0E\r\n", 10)}},
            .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n" + NotSylkError,
            .Unchanged = true},
  TScenario{.Name = "first lines that are no ID record",
            .Before = {{"list.txt", "1.slk\n2.slk\n3.slk\n4.slk\n5.slk\n6.slk\n"},
                       {"1.slk", "ID\r\n"}, {"2.slk", "ID:P\r\n"}, {"3.slk", "id;P\r\n"},
                       {"4.slk", " ID;P\r\n"}, {"5.slk", "\r\nID;P\r\n"},
                       {"6.slk", std::string("\0ID;P\r\n", 7)}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (6 files)\r\n"
                      "Processing: [1] 1.slk\r\n" + NotSylkError + "Processing: [2] 2.slk\r\n" +
                      NotSylkError + "Processing: [3] 3.slk\r\n" + NotSylkError +
                      "Processing: [4] 4.slk\r\n" + NotSylkError + "Processing: [5] 5.slk\r\n" +
                      NotSylkError + "Processing: [6] 6.slk\r\n" + NotSylkError,
            .Unchanged = true},
  TScenario{.Name = "read-only file keeps its mode", .Before = {{"a.slk", SylkLf, 0444}},
            .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", SylkLf, 0444}, {"a.slk", SylkLfNew, 0444}}},
  TScenario{.Name = "owner-only file stays owner-only", .Before = {{"a.slk", SylkLf, 0600}},
            .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", SylkLf, 0600}, {"a.slk", SylkLfNew, 0600}}},
  TScenario{.Name = "files dated 1970 and 2200",
            .Before = {{"list.txt", "a.slk\nb.slk\n"},
                       {"a.slk", SylkLf, 0644, TType::Regular, 0},
                       {"b.slk", SylkCr, 0644, TType::Regular, 7258118400}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (2 files)\r\n"
                      "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated +
                      "Processing: [2] b.slk\r\n  renamed as b.bak\r\n" + Updated,
            .After = {{"a.bak", SylkLf}, {"a.slk", SylkLfNew}, {"b.bak", SylkCr},
                      {"b.slk", SylkCrNew}, {"list.txt", "a.slk\nb.slk\n"}}},
  TScenario{.Name = "same file listed twice",
            .Before = {{"list.txt", "a.slk\na.slk\n"}, {"a.slk", SylkLf}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (2 files)\r\n"
                      "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated +
                      "Processing: [2] a.slk\r\n  ERROR! Can't rename a.slk into a.bak\r\n",
            .After = {{"a.bak", SylkLf}, {"a.slk", SylkLfNew}, {"list.txt", "a.slk\na.slk\n"}}},
  TScenario{.Name = "symbolic link is replaced, its target kept",
            .Before = {{"t.txt", SylkLf}, {"a.slk", "t.txt", 0, TType::Symlink}},
            .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", "t.txt", 0, TType::Symlink}, {"a.slk", SylkLfNew},
                      {"t.txt", SylkLf}}},
);

SCENARIOS(Direct,
  TScenario{.Name = "file rewritten without backup", .Before = {{"a.slk", SylkCr, 0640}},
            .Args = {"a.slk", "-B-"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n" + Updated,
            .After = {{"a.slk", SylkCrNew, 0640}}, .Outputs = AllOutputs},
  TScenario{.Name = "backup switch turned on again", .Before = {{"a.slk", SylkCr}},
            .Args = {"a.slk", "-b-", "-B+"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated,
            .After = {{"a.bak", SylkCr}, {"a.slk", SylkCrNew}}},
  TScenario{.Name = "read-only file", .Before = {{"a.slk", SylkLf, 0444}},
            .Args = {"a.slk", "-B-"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  ERROR! Can't update a.slk\r\n",
            .Unchanged = true},
  TScenario{.Name = "read-only file halts", .Before = {{"a.slk", SylkLf, 0444}},
            .Args = {"a.slk", "-B-", "-E+"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n"
                      "  ERROR! Can't update a.slk\r\n" + Halted,
            .Exit = 3, .Unchanged = true},
  TScenario{.Name = "not SYLK", .Before = {{"a.slk", NotSylk}}, .Args = {"a.slk", "-B-"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n" + NotSylkError,
            .Unchanged = true},
);

SCENARIOS(Missing,
  TScenario{.Name = "missing file", .Before = {{"list.txt", "gone.slk\n"}}, .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (1 files)\r\n"
                      "Processing: [1] gone.slk\r\n  ERROR! File not found\r\n",
            .Unchanged = true},
  TScenario{.Name = "second of three missing",
            .Before = {{"list.txt", "a.slk\ngone.slk\nc.slk\n"}, {"a.slk", SylkLf},
                       {"c.slk", SylkCr}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (3 files)\r\n"
                      "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated +
                      "Processing: [2] gone.slk\r\n  ERROR! File not found\r\n"
                      "Processing: [3] c.slk\r\n  renamed as c.bak\r\n" + Updated,
            .After = {{"a.bak", SylkLf}, {"a.slk", SylkLfNew}, {"c.bak", SylkCr},
                      {"c.slk", SylkCrNew}, {"list.txt", "a.slk\ngone.slk\nc.slk\n"}}},
  TScenario{.Name = "second of three missing halts",
            .Before = {{"list.txt", "a.slk\ngone.slk\nc.slk\n"}, {"a.slk", SylkLf},
                       {"c.slk", SylkCr}},
            .Args = {"-Flist.txt", "-E+"},
            .Stdout = Banner + "File list read from: list.txt (3 files)\r\n"
                      "Processing: [1] a.slk\r\n  renamed as a.bak\r\n" + Updated +
                      "Processing: [2] gone.slk\r\n  ERROR! File not found\r\n" + Halted,
            .Exit = 1,
            .After = {{"a.bak", SylkLf}, {"a.slk", SylkLfNew}, {"c.slk", SylkCr},
                      {"list.txt", "a.slk\ngone.slk\nc.slk\n"}}},
  TScenario{.Name = "quiet halt prints nothing", .Before = {{"list.txt", "gone.slk\n"}},
            .Args = {"-Flist.txt", "-Q", "-E+"}, .Exit = 1, .Unchanged = true},
  TScenario{.Name = "a folder is no file",
            .Before = {{"list.txt", "d.slk\n"}, {"d.slk", "", 0755, TType::Directory}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (1 files)\r\n"
                      "Processing: [1] d.slk\r\n  ERROR! File not found\r\n",
            .Unchanged = true},
);

SCENARIOS(ListFile,
  TScenario{.Name = "processed in the list's order",
            .Before = {{"list.txt", "c.slk\r\na.slk\rb.slk"}, {"a.slk", SylkLf},
                       {"b.slk", SylkCr}, {"c.slk", SylkHigh}},
            .Args = {"-Flist.txt", "-B-"},
            .Stdout = Banner + "File list read from: list.txt (3 files)\r\n"
                      "Processing: [1] c.slk\r\n" + Updated + "Processing: [2] a.slk\r\n" +
                      Updated + "Processing: [3] b.slk\r\n" + Updated,
            .After = {{"a.slk", SylkLfNew}, {"b.slk", SylkCrNew}, {"c.slk", SylkHighNew},
                      {"list.txt", "c.slk\r\na.slk\rb.slk"}}},
  TScenario{.Name = "missing list file", .Args = {"-Fmissing.txt", "-E-"},
            .Stdout = Banner + "ERROR! SYLK file list missing.txt not found\r\n", .Exit = 5},
  TScenario{.Name = "missing list file under quiet", .Args = {"-Q", "-Fmissing.txt"}, .Exit = 5},
  TScenario{.Name = "list file without a name", .Args = {"-F"},
            .Stdout = Banner + "ERROR! SYLK file list  not found\r\n", .Exit = 5},
  TScenario{.Name = "list file that is a folder",
            .Before = {{"d", "", 0755, TType::Directory}}, .Args = {"-Fd"},
            .Stdout = Banner + "ERROR! SYLK file list d not found\r\n", .Exit = 5},
  TScenario{.Name = "wildcard replaces the list",
            .Before = {{"list.txt", "x.txt\n"}, {"x.txt", SylkLf}, {"a.slk", SylkLf}},
            .Args = {"*.slk", "-Flist.txt", "-B-"},
            .Stdout = Banner + "File list read from: list.txt (1 files)\r\n" + Built1 +
                      "Processing: [1] a.slk\r\n" + Updated,
            .After = {{"a.slk", SylkLfNew}, {"list.txt", "x.txt\n"}, {"x.txt", SylkLf}}},
  TScenario{.Name = "empty line is an empty name",
            .Before = {{"list.txt", "\nb.slk\n"}, {"b.slk", NotSylk}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (2 files)\r\n"
                      "Processing: [1] \r\n  ERROR! File not found\r\n"
                      "Processing: [2] b.slk\r\n" + NotSylkError,
            .Unchanged = true},
  TScenario{.Name = "list read from a pipe", .Before = {{"a.slk", SylkLf}},
            .Args = {"-F/dev/stdin", "-B-"},
            .Stdout = Banner + "File list read from: /dev/stdin (1 files)\r\n"
                      "Processing: [1] a.slk\r\n" + Updated,
            .After = {{"a.slk", SylkLfNew}}, .Stdin = "a.slk\n"},
  TScenario{.Name = "names are only data",
            .Before = {{"list.txt", "%s%n%d.slk\n$(touch x).slk\n"}, {"%s%n%d.slk", SylkLf},
                       {"$(touch x).slk", NotSylk}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (2 files)\r\n"
                      "Processing: [1] %s%n%d.slk\r\n  renamed as %s%n%d.bak\r\n" + Updated +
                      "Processing: [2] $(touch x).slk\r\n" + NotSylkError,
            .After = {{"$(touch x).slk", NotSylk}, {"%s%n%d.bak", SylkLf},
                      {"%s%n%d.slk", SylkLfNew}, {"list.txt", "%s%n%d.slk\n$(touch x).slk\n"}}},
  TScenario{.Name = "list text ends at its first NUL",
            .Before = {{"list.txt", std::string("gone.slk\n\0b.slk\n", 16)}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (1 files)\r\n"
                      "Processing: [1] gone.slk\r\n  ERROR! File not found\r\n",
            .Unchanged = true},
);

SCENARIOS(Wildcard,
  TScenario{.Name = "matches nothing", .Before = {{"a.slk", SylkLf}}, .Args = {"*.xyz"},
            .Stdout = Banner + "File list built (0 files)\r\n", .Unchanged = true},
  TScenario{.Name = "hidden system and folders skipped, read-only kept",
            .Before = {{".h.slk", SylkLf}, {"d.slk", "", 0755, TType::Directory},
                       {"p.slk", "", 0644, TType::Fifo}, {"r.slk", SylkLf, 0444},
                       {"x.txt", SylkLf}},
            .Args = {"*.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] r.slk\r\n  renamed as r.bak\r\n" + Updated,
            .After = {{".h.slk", SylkLf}, {"p.slk", "", 0644, TType::Fifo},
                      {"r.bak", SylkLf, 0444}, {"r.slk", SylkLfNew, 0444}, {"x.txt", SylkLf}}},
  TScenario{.Name = "question mark is one byte",
            .Before = {{"a.slk", NotSylk}, {"ab.slk", SylkLf}, {"abc.slk", NotSylk}},
            .Args = {"a?.slk", "-B-"},
            .Stdout = Banner + Built1 + "Processing: [1] ab.slk\r\n" + Updated,
            .After = {{"a.slk", NotSylk}, {"ab.slk", SylkLfNew}, {"abc.slk", NotSylk}}},
  TScenario{.Name = "letter case counts", .Before = {{"A.SLK", SylkLf}}, .Args = {"*.slk"},
            .Stdout = Banner + "File list built (0 files)\r\n", .Unchanged = true},
  TScenario{.Name = "folder part kept", .Before = {{"data/a.slk", SylkLf}},
            .Args = {"data/*.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] data/a.slk\r\n"
                      "  renamed as data/a.bak\r\n" + Updated,
            .After = {{"data/a.bak", SylkLf}, {"data/a.slk", SylkLfNew}}},
  TScenario{.Name = "absolute path", .Before = {{"data/a.slk", SylkLf}},
            .Args = {"{dir}/data/*.slk", "-B-"},
            .Stdout = Banner + Built1 + "Processing: [1] {dir}/data/a.slk\r\n" + Updated,
            .After = {{"data/a.slk", SylkLfNew}}},
  TScenario{.Name = "a folder named alone lists nothing", .Before = {{"data/a.slk", SylkLf}},
            .Args = {"data"}, .Stdout = Banner + "File list built (0 files)\r\n",
            .Unchanged = true},
);

SCENARIOS(Failure,
  TScenario{.Name = "FIFO as a SYLK file",
            .Before = {{"list.txt", "p.slk\n"}, {"p.slk", "", 0644, TType::Fifo}},
            .Args = {"-Flist.txt"},
            .Stdout = Banner + "File list read from: list.txt (1 files)\r\nProcessing: [1] p.slk\r\n"
                      "Exception EFOpenError dans le module {module} à ADDR.\n"
                      "Impossible d'ouvrir le fichier p.slk.\r\n",
            .Exit = 1, .Unchanged = true, .Outputs = AllOutputs},
  TScenario{.Name = "quiet does not silence the report",
            .Before = {{"list.txt", "p.slk\n"}, {"p.slk", "", 0644, TType::Fifo}},
            .Args = {"-Flist.txt", "-Q"},
            .Stdout = "Exception EFOpenError dans le module {module} à ADDR.\n"
                      "Impossible d'ouvrir le fichier p.slk.\r\n",
            .Exit = 1, .Unchanged = true},
  TScenario{.Name = "new file cannot be created", .Before = {{"ro/a.slk", SylkLf}},
            .Args = {"ro/a.slk", "-B-"},
            .Stdout = Banner + Built1 + "Processing: [1] ro/a.slk\r\n"
                      "Exception EFCreateError dans le module {module} à ADDR.\n"
                      "Impossible de créer le fichier ro/a.slk.\r\n",
            .Exit = 1, .Unchanged = true, .ReadOnlyFolder = "ro"},
  TScenario{.Name = "backup cannot be made", .Before = {{"ro/a.slk", SylkLf}},
            .Args = {"ro/a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] ro/a.slk\r\n"
                      "  ERROR! Can't rename ro/a.slk into ro/a.bak\r\n",
            .Unchanged = true, .ReadOnlyFolder = "ro"},
  TScenario{.Name = "write fails half-way", .Before = {{"a.slk", SylkLf + std::string(200, 'C')}},
            .Args = {"a.slk", "-B-"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n"
                      "Exception EWriteError dans le module {module} à ADDR.\n"
                      "Erreur d'écriture dans le flux.\r\n",
            .Exit = 1, .Unchanged = true, .Outputs = {TOutput::Pipe}, .FileSizeLimit = 100},
  TScenario{.Name = "write fails after the backup",
            .Before = {{"a.slk", SylkLf + std::string(200, 'C')}}, .Args = {"a.slk"},
            .Stdout = Banner + Built1 + "Processing: [1] a.slk\r\n  renamed as a.bak\r\n"
                      "Exception EWriteError dans le module {module} à ADDR.\n"
                      "Erreur d'écriture dans le flux.\r\n",
            .Exit = 1,
            .After = {{"a.bak", SylkLf + std::string(200, 'C')},
                      {"a.slk", SylkLf + std::string(200, 'C')}},
            .Outputs = {TOutput::Pipe}, .FileSizeLimit = 100},
  TScenario{.Name = "memory runs out",
            .Before = {{"big.slk", "ID;P\r\n", 0644, TType::Regular, {}, 200 << 20}},
            .Args = {"big.slk", "-B-"},
            .Stdout = Banner + Built1 + "Processing: [1] big.slk\r\nRuntime error 203 at ADDR\r\n",
            .Exit = 203, .Unchanged = true, .AddressSpaceLimit = 120 << 20},
);

SCENARIOS(Output,
  TScenario{.Name = "closed standard output", .Before = {{"a.slk", SylkLf}}, .Args = {"a.slk"},
            .Exit = 1, .Unchanged = true, .Outputs = {TOutput::Closed}},
  TScenario{.Name = "full device", .Before = {{"a.slk", SylkLf}}, .Args = {"a.slk"},
            .Exit = 1, .Unchanged = true, .Outputs = {TOutput::Full}},
  TScenario{.Name = "closed pipe fails at the buffer's first write",
            .Before = {{"a.slk", SylkLf}}, .Args = {"a.slk"}, .Exit = 1,
            .After = {{"a.bak", SylkLf}, {"a.slk", SylkLfNew}}, .Outputs = {TOutput::ClosedPipe}},
  TScenario{.Name = "closed pipe fails at the close", .Before = {{"a.slk", SylkLf}},
            .Args = {"a.slk", "-B-"}, .Exit = 1, .After = {{"a.slk", SylkLfNew}},
            .Outputs = {TOutput::ClosedPipe}},
  TScenario{.Name = "quiet run never opens it", .Before = {{"a.slk", SylkLf}},
            .Args = {"a.slk", "-Q"}, .After = {{"a.bak", SylkLf}, {"a.slk", SylkLfNew}},
            .Outputs = {TOutput::Closed, TOutput::Full, TOutput::ClosedPipe}},
);

}  // namespace
