#include "FileNames.h"

#include <string_view>

namespace {

// The bytes that end an extension when scanning a name backwards.
constexpr std::string_view ExtensionDelimiters = ".\\:/";

// Position of the last byte of Path that is one of Delimiters and not the
// trail byte of a double-byte character; npos when there is none.
size_t LastDelimiter(const std::string& Path, std::string_view Delimiters,
                     const Platform::TLeadBytes& LeadBytes) {
  size_t I = Path.size();
  while (I > 0) {
    --I;
    if (Path[I] == '\0' || Delimiters.find(Path[I]) == std::string_view::npos) continue;
    // The run of lead bytes before the byte: odd means the byte is a trail
    // byte, and the scan goes on before its lead byte.
    size_t Run = 0;
    while (Run < I && LeadBytes[static_cast<unsigned char>(Path[I - Run - 1])]) ++Run;
    if (Run % 2 == 0) return I;
    --I;
  }
  return std::string::npos;
}

}  // namespace

std::string ReplaceExtension(const std::string& Path, const std::string& Ext,
                             const Platform::TLeadBytes& LeadBytes) {
  size_t Delimiter = LastDelimiter(Path, ExtensionDelimiters, LeadBytes);
  if (Delimiter == std::string::npos || Path[Delimiter] != '.') return Path + Ext;
  return Path.substr(0, Delimiter) + Ext;
}

std::string ExtractDirectory(const std::string& Path, const Platform::TLeadBytes& LeadBytes) {
  size_t Delimiter = LastDelimiter(Path, Platform::PathDelimiters(), LeadBytes);
  return Delimiter == std::string::npos ? std::string() : Path.substr(0, Delimiter + 1);
}
