// Extension replacement and the directory part of a path, with and without
// a set of double-byte lead bytes, against a plain reading of the path from
// its start, character by character.
//
// Input: a flags byte (bit 0: lead bytes follow), then 16 bytes of lead-byte
// bits for 0x80 to 0xFF when asked, a length byte, that many bytes of
// extension, and the path.
#include <cstdint>
#include <string>

#include "support/FileOps.h"

namespace {

void Require(bool Condition) {
  if (!Condition) __builtin_trap();
}

// The position of the last byte of Path in Delimiters that stands as a
// character of its own (not the second byte of a double-byte character).
size_t LastDelimiterForward(const std::string& Path, const std::string& Delimiters,
                            const Platform::TLeadBytes& LeadBytes) {
  size_t Last = std::string::npos;
  for (size_t I = 0; I < Path.size(); ++I) {
    if (LeadBytes[static_cast<unsigned char>(Path[I])] && I + 1 < Path.size()) {
      ++I;
      continue;
    }
    if (Path[I] != '\0' && Delimiters.find(Path[I]) != std::string::npos) Last = I;
  }
  return Last;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  size_t Pos = 0;
  Platform::TLeadBytes LeadBytes;
  if (Size > 0 && (Data[Pos++] & 1)) {
    // Code pages put lead bytes above 0x7F only, apart from every delimiter.
    for (int Bit = 0; Bit < 128 && Pos + Bit / 8 < Size; ++Bit)
      LeadBytes[0x80 + Bit] = (Data[Pos + Bit / 8] >> (Bit % 8)) & 1;
    Pos += 16;
  }
  if (Pos >= Size) return 0;
  size_t ExtSize = std::min<size_t>(Data[Pos], Size - Pos - 1);
  ++Pos;
  const char* Bytes = reinterpret_cast<const char*>(Data);
  std::string Ext(Bytes + Pos, ExtSize), Path(Bytes + Pos + ExtSize, Size - Pos - ExtSize);

  size_t Dot = LastDelimiterForward(Path, ExtensionDelimiters, LeadBytes);
  bool Replaces = Dot != std::string::npos && Path[Dot] == '.';
  Require(ReplaceExtension(Path, Ext, LeadBytes) == (Replaces ? Path.substr(0, Dot) : Path) + Ext);

  size_t Slash = LastDelimiterForward(Path, Platform::PathDelimiters(), LeadBytes);
  Require(ExtractDirectory(Path, LeadBytes) ==
          (Slash == std::string::npos ? std::string() : Path.substr(0, Slash + 1)));
  return 0;
}
