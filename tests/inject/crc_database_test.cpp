#include "inject/crc_database.h"

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "test_util.h"

namespace quorvin {
namespace {

std::string RealDb(const std::string& name) { return test::TestDataDir() + "/mess/crc/" + name; }

TEST(CrcDatabaseTest, ReadsTheRealDatabases) {
  if (test::TestDataDir().empty()) GTEST_SKIP() << "shared test data not found";
  auto nes = CrcDatabase::Load(RealDb("nes.crc"));
  ASSERT_TRUE(nes.ok());
  EXPECT_EQ(nes->size(), 8820u);
  auto a2600 = CrcDatabase::Load(RealDb("a2600.crc"));
  ASSERT_TRUE(a2600.ok());
  EXPECT_EQ(a2600->size(), 1701u);
  EXPECT_FALSE(a2600->LookupCrcInfo("3795B948").empty());  // written "3795b948 = ..."
  EXPECT_EQ(CrcDatabase::Load(RealDb("gameboy.crc"))->size(), 6115u);
  EXPECT_EQ(CrcDatabase::Load(RealDb("coleco.crc"))->size(), 300u);

  // Every key with leading zeros is found by the text a dat writes for it.
  auto raw = ProfileSection::Read(RealDb("nes.crc"), "nes");
  size_t zeros = 0;
  for (const auto& [key, value] : raw->entries()) {
    if (key[0] != '0') continue;
    ++zeros;
    std::string dat_text = key.substr(
        key.find_first_not_of('0') == std::string::npos ? 7 : key.find_first_not_of('0'));
    EXPECT_EQ(nes->LookupCrcInfo(dat_text), value) << key;
  }
  EXPECT_EQ(zeros, 559u);
}

TEST(CrcDatabaseTest, OddFilesAreReadAsTheProfileReaderWould) {
  test::TempDir dir;
  const std::string huge(2 << 20, 'h');
  test::WriteFile(dir / "nes.crc", std::string("\0junk\n", 6) + "[NES]\n" +
                                       "0000abcd = \"Quoted|1990\"\n" + "ffff=first\n" +
                                       "FFFF=second\n" + "long=" + huge + "\n" + "nul=a" +
                                       std::string(1, '\0') + "b\n" + "[nes]\nlater=x\n");
  auto db = CrcDatabase::Load(dir / "nes.crc");
  ASSERT_TRUE(db.ok());
  EXPECT_EQ(db->LookupCrcInfo("ABCD"), "Quoted|1990");
  EXPECT_EQ(db->LookupCrcInfo("ffff"), "first");
  EXPECT_TRUE(db->LookupCrcInfo("LONG") == huge);
  EXPECT_EQ(db->LookupCrcInfo("NUL"), std::string("a\0b", 3));
  EXPECT_EQ(db->LookupCrcInfo("LATER"), "");
  EXPECT_EQ(db->LookupCrcInfo(""), "");

  auto missing = CrcDatabase::Load(dir / "snes.crc");
  ASSERT_TRUE(missing.ok());
  EXPECT_EQ(missing->size(), 0u);
  test::WriteFile(dir / "plain.crc", "not a profile file at all\n\x01\x02\n");
  EXPECT_EQ(CrcDatabase::Load(dir / "plain.crc")->size(), 0u);
  EXPECT_EQ(SectionNameOf("/m/crc/nes.crc"), "nes");
}

}  // namespace
}  // namespace quorvin
