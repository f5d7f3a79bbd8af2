// Wildcard listing of one directory, with an attribute filter.
#pragma once

#include <cstdint>
#include <string>

#include "support/LineList.h"
#include "support/Platform.h"

// One directory search and its current entry.
struct TSearchRec {
  uint32_t EntryAttributes = 0;
  std::string EntryName;
  uint32_t ExcludedAttributes = 0;
  Platform::TSearchState* SearchHandle = nullptr;  // null while no search is open
};

// What SearchStart and SearchNext return at the end of the listing, and
// when nothing matches: no platform error has this value.
constexpr int NoMoreFiles = -1;

// 0 when Rec holds the first accepted entry; otherwise NoMoreFiles or the
// platform's error code, and no search is left open. Hidden, system, volume-label and
// directory entries are skipped unless their bit is in Attributes.
int SearchStart(const std::string& Spec, uint32_t Attributes, TSearchRec& Rec);
// 0 when Rec holds the next accepted entry; NoMoreFiles at the end.
int SearchNext(TSearchRec& Rec);
// Closes the search if it is open.
void SearchEnd(TSearchRec& Rec);

// Appends the names of the accepted entries (without any directory part,
// "." and ".." left out) to List. True when the listing is whole: it ran to
// its normal end, or there was nothing to list (no such folder, no match).
bool GetFileList(const std::string& Spec, uint32_t Attributes, LineList& List);
