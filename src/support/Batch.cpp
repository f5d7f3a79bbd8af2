#include "Batch.h"

#include <algorithm>

#include "Failures.h"

namespace {

// Up to this many files, or bytes of new content, or this long, share one flush.
constexpr size_t GroupFiles = 1000;
constexpr uint64_t GroupBytes = 64u << 20;
constexpr std::chrono::seconds GroupTime{1};
// Descriptors a file's update needs beside those of the group's new files:
// the file read, a folder flushed, and a spare.
constexpr size_t OwnDescriptors = 4;

// Every file of a group waits with its new file open: fewer where the
// process may not hold that many.
size_t MostFiles() {
  static const size_t Most = std::clamp(Platform::FreeDescriptors(), OwnDescriptors + 1, GroupFiles + OwnDescriptors);
  return Most - OwnDescriptors;
}

// Adds the folder of File to Folders, once.
void AddFolderOf(const TNewFile& File, std::vector<std::string>& Folders) {
  if (std::find(Folders.begin(), Folders.end(), File.Folder) == Folders.end()) Folders.push_back(File.Folder);
}

}  // namespace

void TBatch::Show(const std::string& Text) {
  if (Files == 0) ShowLine(Text);
  else Entries.push_back({nullptr, {Text}});
}

void TBatch::Add(std::unique_ptr<TNewFile> File, std::vector<std::string> Lines) {
  if (Files++ == 0) Started = std::chrono::steady_clock::now();
  Bytes += File->Size;
  MustCommit = !File->CanWait();
  Held.insert({File->Read.Volume, File->Read.Index});
  Entries.push_back({std::move(File), std::move(Lines)});
}

bool TBatch::Holds(const Platform::TFileStamp& Read) const { return Held.count({Read.Volume, Read.Index}) > 0; }

bool TBatch::Full() const {
  return MustCommit || Files >= MostFiles() || Bytes >= GroupBytes ||
         (Files > 0 && std::chrono::steady_clock::now() - Started >= GroupTime);
}

void TBatch::ShowUntil(size_t Stop) {
  for (; Next < Stop; ++Next)
    for (const std::string& Line : Entries[Next].Lines) ShowLine(Line);
}

void TBatch::Fail(size_t ShownUntil) {
  // The lines before the failing files still tell what was done.
  ShowUntil(ShownUntil);
  Raise<EWriteError>();
}

bool TBatch::Commit(std::string& Refused, std::string& Kept) {
  if (Failed) return true;
  // Any failure on the way, a line that cannot be shown included, ends the
  // run: nothing more is done then.
  Failed = true;
  auto IsFile = [](const TEntry& Entry) { return Entry.File != nullptr; };
  size_t First = std::find_if(Entries.begin() + Next, Entries.end(), IsFile) - Entries.begin();
  if (!Flushed) {
    std::vector<Platform::TFileState*> Written;
    std::vector<std::string> Folders;
    for (size_t I = First; I < Entries.size(); ++I) {
      if (!Entries[I].File) continue;
      Written.push_back(Entries[I].File->File);
      AddFolderOf(*Entries[I].File, Folders);
    }
    // The contents and the backup names first: a rename may not reach the
    // disk before them.
    if (!Written.empty() && Platform::MakeDurable(Written, Folders) != 0) Fail(First);
    Flushed = true;
  }
  size_t Stop = Next;
  TPlaced Placed = TPlaced::Done;
  std::vector<std::string> Folders;
  for (; Stop < Entries.size(); ++Stop) {
    TNewFile* File = Entries[Stop].File.get();
    if (File == nullptr) continue;
    if ((Placed = PlaceNewFile(*File)) != TPlaced::Done) break;
    AddFolderOf(*File, Folders);
  }
  // The new names stay once their folders are flushed; only then are they told.
  if (!Folders.empty() && Platform::MakeDurable({}, Folders) != 0) Fail(First);
  ShowUntil(Stop);
  if (Placed == TPlaced::Failed) Raise<EFCreateError>(Entries[Stop].File->Path);
  Failed = false;
  if (Stop == Entries.size()) {
    GiveBack();
    return true;
  }
  Refused = Entries[Stop].File->Path;
  Kept = Entries[Stop].File->GiveBack();
  Entries[Stop].File.reset();
  ++Next;
  return false;
}

void TBatch::GiveBack() {
  Entries.clear();
  Held.clear();
  Next = Files = 0;
  Bytes = 0;
  MustCommit = Flushed = false;
}
