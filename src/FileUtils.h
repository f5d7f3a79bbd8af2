// Wildcard listing of one directory, with an attribute filter.
#pragma once

#include <cstdint>
#include <string>

#include "support/LineList.h"

// Appends the names of the entries that match Spec (wildcards in its last
// component), without any directory part, "." and ".." left out, to List.
// Hidden, system, volume-label and directory entries are skipped unless
// their bit is in Attributes. True when the listing is whole: it ran to its
// normal end, or there was nothing to list (no such folder, no match).
bool GetFileList(const std::string& Spec, uint32_t Attributes, LineList& List);
