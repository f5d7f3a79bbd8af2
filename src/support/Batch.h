// The files of a run, updated in groups. Each file's new content is written
// beside it and its backup made while the next files are read; then one
// flush puts the group's contents and backup names on the disk, the files
// take their names in order, and one flush of their folders makes the names
// stay. Output waits with the files: a line is shown once the files added
// before it have their names, as a run file by file would show it.
//
// A file of a group, and what moves it on:
//
//          Add             Commit: flush          Commit: place         Commit: flush folders
//  written ───> waiting ─────────────> flushed ─────────────> placed ─────────────────────> shown
//                  │                      │
//                  │                      │ Commit: refused by PlaceNewFile
//                  │                      ├──────────> given back (TNewFile::GiveBack); Commit
//                  │                      │            returns its name, and its backup's if kept
//                  │ GiveBack: a halt     │ GiveBack: a halt at a refusal, or a
//                  │ or a failure         │ failure while the group is placed
//                  └──────────────────────┴──────────> given back: new file removed, backup taken back
//
// "written" is UpdateFile's: the new file written, the backup made. The
// entries from Next on wait; Flushed says that they are on the disk; a
// file's own progress is in its TNewFile (Placed, Temporary, Made).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FileOps.h"

class TBatch {
 public:
  // ShowLine writes one line of output.
  explicit TBatch(void (*ShowLine)(const std::string&)) : ShowLine(ShowLine) {}

  // Shows Text once the files added before it have their names.
  void Show(const std::string& Text);
  // Adds File, its new content written and its backup made; Lines are
  // shown once it has its name.
  void Add(std::unique_ptr<TNewFile> File, std::vector<std::string> Lines);
  // True when the file that Read describes waits here, under any name.
  bool Holds(const Platform::TFileStamp& Read) const;
  // True when the group should be committed now: it holds 1,000 files (or
  // as many as the descriptors free allow) or 64 MB, its first file came a
  // second ago, or its last cannot wait.
  bool Full() const;
  // Places the waiting files in order and shows the lines before each, up
  // to a file that is refused: false, with that file given back, its name
  // in Refused and, where its backup name stays, that name in Kept (the
  // caller reports them, then commits again); true once every file has its
  // name and every line is shown. Raises EWriteError when a flush fails,
  // EFCreateError when a file cannot take its name for another reason;
  // after any failure the batch does nothing more.
  bool Commit(std::string& Refused, std::string& Kept);
  // Gives back every file still waiting.
  void GiveBack();

 private:
  struct TEntry {
    std::unique_ptr<TNewFile> File;   // null for lines alone
    std::vector<std::string> Lines;   // shown once File, if any, has its name
  };

  // Shows the lines of the entries from Next up to Stop, and goes past them.
  void ShowUntil(size_t Stop);
  [[noreturn]] void Fail(size_t ShownUntil);

  void (*ShowLine)(const std::string&);
  std::vector<TEntry> Entries;
  std::set<std::pair<uint64_t, uint64_t>> Held;  // the files waiting, by volume and index
  size_t Next = 0;  // the first entry not yet done
  size_t Files = 0;
  uint64_t Bytes = 0;
  std::chrono::steady_clock::time_point Started;
  bool MustCommit = false, Flushed = false, Failed = false;
};
