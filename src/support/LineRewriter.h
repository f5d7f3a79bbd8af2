// The rewrite of a text's lines: bytes in, bytes out, no file. A text's
// lines end at CR LF, a lone CR or a lone LF, and the text itself at its
// first NUL.
#pragma once

#include <string_view>

// Rewrites a text given in pieces of any size: its first line is left out,
// every other line is written followed by CR LF. What crosses a piece
// boundary is where the text stands: in its first line, in the lines after
// it (and whether the last byte was a CR), or past its end.
class TLineRewriter {
 public:
  // Rewrites Piece, the next bytes of the text, and returns what comes of
  // it: written at Out, which has room for twice Piece's size and 32 bytes
  // more, or the rest of Piece itself where its breaks are all CR LF
  // already. The byte after Piece must be a NUL (not part of it).
  std::string_view Take(std::string_view Piece, char* Out);
  // After the last piece: ends a last line that has no break of its own
  // (two bytes more at most).
  char* Finish(char* Out) const;

  // False when a byte other than NUL follows the text's end.
  bool Whole() const { return OnlyNuls; }

 private:
  enum class TPart { FirstLine, Lines, AfterText };

  char* TakeLfLines(const char* From, const char* To, char* Out);

  TPart Part = TPart::FirstLine;
  bool AfterCr = false;   // the last byte taken was a CR: an LF next belongs to its break
  bool LineOpen = false;  // bytes of a line are written, its break not yet
  bool OnlyNuls = true;
};
