#include "LineRewriter.h"

#include <algorithm>
#include <cstring>

namespace {

char* EndLine(char* Out) {
  *Out++ = '\r';
  *Out++ = '\n';
  return Out;
}

// True when From..To holds only NULs.
bool AllNuls(const char* From, const char* To) {
  static const char Zeros[4096] = {};
  for (size_t Size; From < To; From += Size) {
    Size = std::min<size_t>(To - From, sizeof Zeros);
    if (std::memcmp(From, Zeros, Size) != 0) return false;
  }
  return true;
}

// True when From..To (followed by a NUL) holds no NUL and every break in it
// is CR LF, an LF at its start being a lone one: one pass without a branch,
// which the compiler turns into vector code.
bool AllCrLf(const unsigned char* From, const unsigned char* To) {
  unsigned char Lone = From[0] == '\n';
  for (const unsigned char* At = From; At < To; ++At)
    Lone |= (At[0] == 0) | ((At[0] == '\r') & (At[1] != '\n')) | ((At[1] == '\n') & (At[0] != '\r'));
  return Lone == 0;
}

}  // namespace

// Writes From..To, which holds no CR and no NUL, with every LF as CR LF;
// returns the end of what it wrote. A library scan for LF alone is twice as
// fast as one for all three bytes on short lines, and a short line copied
// as 32 bytes (the rest is written over) a quarter faster again.
char* TLineRewriter::TakeLfLines(const char* From, const char* To, char* Out) {
  while (const char* Lf = static_cast<const char*>(std::memchr(From, '\n', To - From))) {
    size_t Length = Lf - From;
    std::memcpy(Out, From, Length <= 32 && To - From >= 32 ? 32 : Length);
    Out = EndLine(Out + Length);
    From = Lf + 1;
  }
  LineOpen = From < To;
  return std::copy(From, To, Out);
}

std::string_view TLineRewriter::Take(std::string_view Piece, char* Out) {
  const char* From = Piece.data();
  const char* To = From + Piece.size();
  char* Start = Out;
  // strcspn stops at a CR, an LF, or a NUL: one in the text ends it, the one
  // after the piece ends the piece. Once past the first line, the rest of
  // the piece is looked at once: the common cases go faster.
  for (bool Looked = false; From < To && Part != TPart::AfterText;) {
    if (AfterCr) {
      AfterCr = false;
      if (*From == '\n' && ++From == To) break;
    }
    if (Part == TPart::Lines && !Looked) {
      Looked = true;
      if (!std::memchr(From, '\r', To - From) && !std::memchr(From, '\0', To - From))
        return {Start, static_cast<size_t>(TakeLfLines(From, To, Out) - Start)};
      if (AllCrLf(reinterpret_cast<const unsigned char*>(From), reinterpret_cast<const unsigned char*>(To))) {
        // Already in its rewritten form: it goes as it was read.
        LineOpen = To[-1] != '\n';
        return {From, static_cast<size_t>(To - From)};
      }
    }
    size_t Run = std::strcspn(From, "\r\n");
    if (Part == TPart::Lines) Out = std::copy(From, From + Run, Out);
    LineOpen = LineOpen || (Run > 0 && Part == TPart::Lines);
    From += Run;
    if (From == To) break;
    if (*From == '\0') {
      if (LineOpen) Out = EndLine(Out);
      LineOpen = false;
      Part = TPart::AfterText;
      break;
    }
    if (Part == TPart::Lines) Out = EndLine(Out);
    LineOpen = false;
    Part = TPart::Lines;
    AfterCr = *From++ == '\r';
  }
  if (Part == TPart::AfterText) OnlyNuls = OnlyNuls && AllNuls(From, To);
  return {Start, static_cast<size_t>(Out - Start)};
}

char* TLineRewriter::Finish(char* Out) const {
  return LineOpen ? EndLine(Out) : Out;
}
