#include "FileUtils.h"

#include <memory>

#include "support/Platform.h"

bool GetFileList(const std::string& Spec, uint32_t Attributes, LineList& List) {
  constexpr uint32_t Filterable = Platform::AttrHidden | Platform::AttrSystem | Platform::AttrVolumeLabel |
                                  Platform::AttrDirectory;
  uint32_t Excluded = ~Attributes & Filterable;
  Platform::TSearchState* Search = nullptr;
  Platform::TFoundEntry Entry;
  int Code = 0;
  // Nothing to list is a whole listing; a folder that cannot be read is not.
  if (!Platform::FindFirst(Spec, Search, Entry, Code)) return Code == 0;
  // Closed on every way out, a failure while appending included.
  std::unique_ptr<Platform::TSearchState, void (*)(Platform::TSearchState*)> Closer(Search, Platform::FindClose);
  do {
    if ((Entry.Attributes & Excluded) == 0 && Entry.Name != "." && Entry.Name != "..") List.Add(Entry.Name);
  } while (Platform::FindNext(Search, Entry, Code));
  return Code == 0;
}
