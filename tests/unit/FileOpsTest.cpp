#include "support/FileOps.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

TEST(ReplaceExtension, Rows) {
  // Lead bytes of a double-byte code page such as 932: 0x81-0x9F and 0xE0-0xFC.
  Platform::TLeadBytes CodePage932;
  for (int Byte = 0x81; Byte <= 0xFC; ++Byte) CodePage932.set(Byte, Byte <= 0x9F || Byte >= 0xE0);
  struct {
    const char *Path, *Ext, *Want, *WantDoubleByte;
  } Rows[] = {
      {"a.b.c", ".bak", "a.b.bak", "a.b.bak"},
      {"backup.old\\book", ".bak", "backup.old\\book.bak", "backup.old\\book.bak"},
      {"c:book", ".bak", "c:book.bak", "c:book.bak"},
      {"book.", ".bak", "book.bak", "book.bak"},
      {".profile", ".bak", ".bak", ".bak"},
      {"a.slk", "..old", "a..old", "a..old"},
      {"a.slk", ".", "a.", "a."},
      {"a.b\x95\\", ".bak", "a.b\x95\\.bak", "a.bak"},
      {"a.b\x95\x95\\c", ".bak", "a.b\x95\x95\\c.bak", "a.b\x95\x95\\c.bak"},
      {"a.b\x95\x95\x95\\c", ".bak", "a.b\x95\x95\x95\\c.bak", "a.bak"},
      {"x.y\x81.z", ".bak", "x.y\x81.bak", "x.bak"},
      {"\x95\\.slk", ".bak", "\x95\\.bak", "\x95\\.bak"},
  };
  for (const auto& Row : Rows) {
    EXPECT_EQ(Row.Want, ReplaceExtension(Row.Path, Row.Ext, {})) << Row.Path;
    EXPECT_EQ(Row.WantDoubleByte, ReplaceExtension(Row.Path, Row.Ext, CodePage932)) << Row.Path;
  }
}

// Runs where QUORVADEL_EXPECT_LEAD_BYTES names the lead-byte ranges of the
// system's double-byte code page, such as "81-9F,E0-FC".
TEST(LeadBytes, FromTheSystemCodePage) {
  const char* Ranges = std::getenv("QUORVADEL_EXPECT_LEAD_BYTES");
  if (Ranges == nullptr) GTEST_SKIP() << "no double-byte code page expected here";
  Platform::TLeadBytes Want;
  unsigned First, Last;
  for (int Used = 0; std::sscanf(Ranges, "%x-%x%n", &First, &Last, &Used) == 2; Ranges += Used + (Ranges[Used] == ','))
    for (unsigned Byte = First; Byte <= Last; ++Byte) Want.set(Byte);
  EXPECT_EQ(Want, Platform::LeadBytes());
}
