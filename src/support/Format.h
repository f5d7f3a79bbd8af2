// Filling the tool's message templates.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Plain substitution: each "%s", "%d" or "%p" of Template takes the next
// argument unchanged, in order. Arguments are never read as templates, so a
// file name holding "%s" is copied as it stands.
std::string Format(std::string_view Template, std::initializer_list<std::string_view> Args);
