// Splitting a Windows command line into arguments, and the blanks between them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The arguments after the program's name. Bytes up to 0x20 separate them
// outside double quotes; quotes join stretches and never belong to an
// argument; a lone pair of quotes between arguments is no argument; an
// unquoted run longer than 4096 bytes is cut, its rest read as the next one.
std::vector<std::string> SplitCommandLine(std::string_view CommandLine);

// True for the bytes up to 0x20.
bool IsBlank(char Byte);
// Text without blanks at either end.
std::string TrimBlanks(std::string_view Text);
