// The streaming rewrite of any bytes, given in pieces of any sizes, writes
// what the plain list of lines gives: split, first line replaced, joined
// with CR LF. It says the text is whole exactly when only NULs follow its
// first NUL.
#include <cstdint>
#include <string>

#include "support/LineList.h"
#include "support/LineRewriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string Bytes(reinterpret_cast<const char*>(Data), Size);
  // The first byte sets the piece size; the replaced line is of any length.
  size_t Step = Size > 0 ? Data[0] % 17 + 1 : 1;
  std::string First(Size % 7, 'I');
  LineList Lines;
  Lines.SplitLines(Bytes);
  std::string Want = First + "\r\n";
  for (int I = 1; I < Lines.Count(); ++I) Want += Lines.Get(I) + "\r\n";

  TLineRewriter Rewriter;
  std::string Got = First + "\r\n", Out(2 * Step + 34, '\0');
  for (size_t At = 0; At < Size; At += Step) {
    std::string Piece = Bytes.substr(At, Step);  // a NUL follows its bytes
    Got.append(Rewriter.Take(Piece, Out.data()));
  }
  Got.append(Out.data(), Rewriter.Finish(Out.data()) - Out.data());
  if (Got != Want) __builtin_trap();
  if (Rewriter.Whole() != (Bytes.find_first_not_of('\0', Bytes.find('\0')) == std::string::npos)) __builtin_trap();
  return 0;
}
