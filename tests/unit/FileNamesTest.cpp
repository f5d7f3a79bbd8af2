#include "support/FileNames.h"

#include <gtest/gtest.h>

#include <cstdlib>

// Lead bytes of the double-byte code page 932: 0x81-0x9F and 0xE0-0xFC.
Platform::TLeadBytes CodePage932() {
  Platform::TLeadBytes LeadBytes;
  for (int Byte = 0x81; Byte <= 0xFC; ++Byte) LeadBytes.set(Byte, Byte <= 0x9F || Byte >= 0xE0);
  return LeadBytes;
}

TEST(ReplaceExtension, Rows) {
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
    EXPECT_EQ(Row.WantDoubleByte, ReplaceExtension(Row.Path, Row.Ext, CodePage932())) << Row.Path;
  }
}

// Runs where QUORVADEL_CODE_PAGE_932 says that the system's code page is 932.
TEST(LeadBytes, FromTheSystemCodePage) {
  if (std::getenv("QUORVADEL_CODE_PAGE_932") == nullptr) GTEST_SKIP() << "code page 932 not expected here";
  EXPECT_EQ(CodePage932(), Platform::LeadBytes());
}
