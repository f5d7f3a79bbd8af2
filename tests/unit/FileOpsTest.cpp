#include "support/FileOps.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

TEST(ReplaceExtension, Rows) {
  struct {
    const char* Path;
    const char* Ext;
    const char* Want;
  } Rows[] = {
      {"a.slk", ".bak", "a.bak"},
      {"a.b.c", ".bak", "a.b.bak"},
      {"book", ".bak", "book.bak"},
      {"backup.old\\book", ".bak", "backup.old\\book.bak"},
      {"c:book", ".bak", "c:book.bak"},
      {"book.", ".bak", "book.bak"},
      {".profile", ".bak", ".bak"},
      {"backup.old/book", ".bak", "backup.old/book.bak"},
      {"data/a.slk", ".old", "data/a.old"},
      {"a.slk", "", "a"},
      {"a.slk", ".", "a."},
      {"", ".bak", ".bak"},
      {"a.slk", "..old", "a..old"},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(std::string(Row.Path) + " + " + Row.Ext);
    EXPECT_EQ(Row.Want, ReplaceExtension(Row.Path, Row.Ext, {}));
  }
}

TEST(ReplaceExtension, TrailBytesAreNotDelimiters) {
  // Lead bytes of a double-byte code page: 0x81-0x9F and 0xE0-0xFC.
  Platform::TLeadBytes LeadBytes;
  for (int Byte = 0x81; Byte <= 0x9F; ++Byte) LeadBytes.set(Byte);
  for (int Byte = 0xE0; Byte <= 0xFC; ++Byte) LeadBytes.set(Byte);
  struct {
    const char* Name;
    const char* Path;
    const char* WantSingleByte;
    const char* WantDoubleByte;
  } Rows[] = {
      {"0x5C after a lead byte", "a.b\x95\\", "a.b\x95\\.bak", "a.bak"},
      {"0x5C after two lead bytes is a backslash", "a.b\x95\x95\\c",
       "a.b\x95\x95\\c.bak", "a.b\x95\x95\\c.bak"},
      {"0x5C after three lead bytes", "a.b\x95\x95\x95\\c", "a.b\x95\x95\x95\\c.bak",
       "a.bak"},
      {"a dot as trail byte", "x.y\x81.z", "x.y\x81.bak", "x.bak"},
      {"lead byte run from the start", "\x95\\.slk", "\x95\\.bak", "\x95\\.bak"},
      {"trail byte at the very start cannot be", "\\a.slk", "\\a.bak", "\\a.bak"},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    EXPECT_EQ(Row.WantSingleByte, ReplaceExtension(Row.Path, ".bak", {}));
    EXPECT_EQ(Row.WantDoubleByte, ReplaceExtension(Row.Path, ".bak", LeadBytes));
  }
}

TEST(ExtractDirectory, Rows) {
  struct {
    const char* Path;
    const char* Want;
  } Rows[] = {
      {"*.slk", ""},
      {"data/*.slk", "data/"},
      {"data/sub/a?.slk", "data/sub/"},
      {"/*.slk", "/"},
      {"data/", "data/"},
      {"", ""},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Path);
    EXPECT_EQ(Row.Want, ExtractDirectory(Row.Path, {}));
  }
}

// Runs where QUORVADEL_EXPECT_LEAD_BYTES names the lead-byte ranges of the
// system's double-byte code page, such as "81-9F,E0-FC".
TEST(LeadBytes, FromTheSystemCodePage) {
  const char* Ranges = std::getenv("QUORVADEL_EXPECT_LEAD_BYTES");
  if (Ranges == nullptr) GTEST_SKIP() << "no double-byte code page expected here";
  Platform::TLeadBytes Want;
  unsigned First, Last;
  for (int Used = 0; std::sscanf(Ranges, "%x-%x%n", &First, &Last, &Used) == 2; Ranges += Used + 1) {
    for (unsigned Byte = First; Byte <= Last; ++Byte) Want.set(Byte);
    if (Ranges[Used] == '\0') break;
  }
  EXPECT_EQ(Want, Platform::LeadBytes());
  EXPECT_EQ("a.bak", ReplaceExtension("a.b\x95\\", ".bak", Platform::LeadBytes()));
}
