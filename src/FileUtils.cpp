#include "FileUtils.h"

namespace {

constexpr uint32_t FilterableAttributes = Platform::AttrHidden | Platform::AttrSystem |
                                          Platform::AttrVolumeLabel |
                                          Platform::AttrDirectory;

// Skips the excluded entries and fills Rec from the first accepted one.
int AcceptEntry(TSearchRec& Rec, Platform::TFoundEntry& Entry) {
  while (Entry.Attributes & Rec.ExcludedAttributes) {
    if (int Code = Platform::FindNext(Rec.SearchHandle, Entry)) return Code;
  }
  Rec.EntryAttributes = Entry.Attributes;
  Rec.EntryName = Entry.Name;
  return 0;
}

}  // namespace

int SearchStart(const std::string& Spec, uint32_t Attributes, TSearchRec& Rec) {
  Rec.ExcludedAttributes = ~Attributes & FilterableAttributes;
  Platform::TFoundEntry Entry;
  if (int Code = Platform::FindFirst(Spec, Rec.SearchHandle, Entry)) {
    Rec.SearchHandle = nullptr;
    return Code;
  }
  int Code = AcceptEntry(Rec, Entry);
  if (Code != 0) SearchEnd(Rec);
  return Code;
}

int SearchNext(TSearchRec& Rec) {
  Platform::TFoundEntry Entry;
  if (int Code = Platform::FindNext(Rec.SearchHandle, Entry)) return Code;
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
  if (int Code = SearchStart(Spec, Attributes, Rec))
    return Code == Platform::NoMoreFiles || Platform::IsNotFound(Code);
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
  return Code == Platform::NoMoreFiles;
}
