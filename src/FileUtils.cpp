#include "FileUtils.h"

namespace {

constexpr uint32_t FilterableAttributes = Platform::AttrHidden | Platform::AttrSystem |
                                          Platform::AttrVolumeLabel |
                                          Platform::AttrDirectory;

// The platform's code for a listing that gave no entry: its end, or a failure.
int Ended(int Code) { return Code != 0 ? Code : NoMoreFiles; }

// Skips the excluded entries and fills Rec from the first accepted one.
int AcceptEntry(TSearchRec& Rec, Platform::TFoundEntry& Entry) {
  int Code = 0;
  while (Entry.Attributes & Rec.ExcludedAttributes)
    if (!Platform::FindNext(Rec.SearchHandle, Entry, Code)) return Ended(Code);
  Rec.EntryAttributes = Entry.Attributes;
  Rec.EntryName = Entry.Name;
  return 0;
}

}  // namespace

int SearchStart(const std::string& Spec, uint32_t Attributes, TSearchRec& Rec) {
  Rec.ExcludedAttributes = ~Attributes & FilterableAttributes;
  Platform::TFoundEntry Entry;
  int Code = 0;
  if (!Platform::FindFirst(Spec, Rec.SearchHandle, Entry, Code)) {
    Rec.SearchHandle = nullptr;
    return Ended(Code);
  }
  Code = AcceptEntry(Rec, Entry);
  if (Code != 0) SearchEnd(Rec);
  return Code;
}

int SearchNext(TSearchRec& Rec) {
  Platform::TFoundEntry Entry;
  int Code = 0;
  if (!Platform::FindNext(Rec.SearchHandle, Entry, Code)) return Ended(Code);
  return AcceptEntry(Rec, Entry);
}

void SearchEnd(TSearchRec& Rec) {
  if (Rec.SearchHandle == nullptr) return;
  Platform::FindClose(Rec.SearchHandle);
  Rec.SearchHandle = nullptr;
}

bool GetFileList(const std::string& Spec, uint32_t Attributes, LineList& List) {
  TSearchRec Rec;
  // Nothing to list is a whole listing; a folder that cannot be read is not.
  if (int Code = SearchStart(Spec, Attributes, Rec)) return Code == NoMoreFiles;
  // Closes the search on every way out, a failure while appending included.
  struct TSearchCloser {
    TSearchRec& Rec;
    ~TSearchCloser() { SearchEnd(Rec); }
  } Closer{Rec};
  int Code;
  do {
    if (Rec.EntryName != "." && Rec.EntryName != "..") List.Add(Rec.EntryName);
    Code = SearchNext(Rec);
  } while (Code == 0);
  return Code == NoMoreFiles;
}
