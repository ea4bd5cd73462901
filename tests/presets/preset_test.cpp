#include <gtest/gtest.h>

#include "presets/preset_file.h"
#include "test_util.h"

namespace quorvin {
namespace {

RunSettings Sample() {
  RunSettings s;
  s.txtMessPath = "/mess/";
  s.txtRom = "/roms/nes";
  s.txtExtension = ".nes";
  s.cmbHName.text = "nes";
  s.txtDesc = "Nintendo NES";
  s.txtAuthor = "Me";
  s.chkCvtRoms = 1;
  s.txtRenamePaths = "/art;/snap";
  s.txtOutput = "/dats/nes.dat";
  s.txtDkPath = "/dk/";
  s.chkArtwork = 0;
  return s;
}

TEST(PresetTest, FormatsFifteenLinesWithCheckValuesInBlanksThenTheZipCheck) {
  EXPECT_EQ(FormatPreset(Sample()),
            "/mess/\r\n/roms/nes\r\n.nes\r\nnes\r\nNintendo NES\r\nMe\r\n 1 \r\n/art;/snap\r\n"
            "/dats/nes.dat\r\n/dk/\r\n 1 \r\n 1 \r\n 0 \r\n 1 \r\n 1 \r\n 0 \r\n");
  RunSettings picked = Sample();
  picked.cmbHName.list = {"a2600", "nes"};
  picked.cmbHName.selected = 0;
  EXPECT_NE(FormatPreset(picked).find("\r\na2600\r\n"), std::string::npos);
}

TEST(PresetTest, RoundTripsAndAcceptsLooseCheckLines) {
  RunSettings base;
  auto back = ParsePreset(FormatPreset(Sample()), "p", base);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(FormatPreset(*back), FormatPreset(Sample()));
  auto loose =
      ParsePreset("a\nb\nc\nd\ne\nf\n1\nh\ni\nj\n0\n 1\n1 \n 0 \n1\nextra line\n", "p", base);
  ASSERT_TRUE(loose.ok());
  EXPECT_EQ(loose->chkCvtRoms, 1);
  EXPECT_EQ(loose->chkMakeCfg, 0);
  EXPECT_EQ(loose->chkRomAdd, 1);
  EXPECT_EQ(loose->chkArtwork, 1);
  EXPECT_EQ(loose->chkVdirAdd, 0);
  EXPECT_EQ(loose->txtDkPath, "j");
}

TEST(PresetTest, DamagedFilesAreRefusedWithWhatIsWrong) {
  RunSettings base;
  const std::string good = FormatPreset(Sample());
  struct Case {
    std::string bytes;
    std::string message;
  } cases[] = {
      {"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n 1 \r\n",
       "The preset file x.pre has 7 lines; a preset has 15"},
      {"", "The preset file x.pre has 0 lines; a preset has 15"},
      {std::string("a\0b", 3) + good, "The preset file x.pre holds NUL bytes; it is not a preset"},
      {"1\n2\n3\n4\n5\n6\nyes\n8\n9\n10\n1\n1\n1\n1\n1\n",
       "Line 7 of the preset file x.pre should be a check value (0 or 1) but reads \"yes\""},
  };
  for (const Case& c : cases) {
    auto r = ParsePreset(c.bytes, "the preset file x.pre", base);
    EXPECT_EQ(r.status().kind(), ErrorKind::kCorrupt);
    EXPECT_EQ(r.status().message(), c.message);
  }
}

TEST(PresetTest, SaveRefusesBadNamesAndListsPresetsInOrder) {
  test::TempDir dir;
  for (const char* bad : {"", "a/b", "..", "  "}) {
    EXPECT_EQ(SavePresetFile(dir.path(), bad, Sample()).kind(), ErrorKind::kInvalidInput) << bad;
  }
  EXPECT_TRUE(test::FolderEntries(dir.path()).empty());
  ASSERT_TRUE(SavePresetFile(dir.path(), "nes", Sample()).ok());
  ASSERT_TRUE(SavePresetFile(dir.path(), "lastused", Sample()).ok());
  test::WriteFile(dir / "a.txt", "x");
  auto names = ListPresets(dir.path());
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(*names, (std::vector<std::string>{"lastused", "nes"}));
}

}  // namespace
}  // namespace quorvin
