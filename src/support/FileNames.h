// The rules that make one name from another: pure, no file is looked at.
#pragma once

#include <string>

#include "Platform.h"

// Path with everything from its last dot replaced by Ext when no other
// delimiter (".\\:/") follows that dot; otherwise Path followed by Ext. A
// delimiter byte that is the trail byte of a double-byte character does not
// count.
std::string ReplaceExtension(const std::string& Path, const std::string& Ext,
                             const Platform::TLeadBytes& LeadBytes);

// The start of Path up to and including its last path delimiter; empty when
// Path has no directory part.
std::string ExtractDirectory(const std::string& Path, const Platform::TLeadBytes& LeadBytes);
