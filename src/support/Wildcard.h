// Wildcard matching of one file name, as the POSIX directory search does it.
#pragma once

#include <string_view>

// True when Name matches Pattern: "*" matches any run of bytes (empty too),
// "?" exactly one byte, every other byte itself, case-sensitively.
bool MatchesWildcard(std::string_view Name, std::string_view Pattern);

// True when Pattern holds "*" or "?".
bool HasWildcard(std::string_view Pattern);
