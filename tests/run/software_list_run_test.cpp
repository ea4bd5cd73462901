// Whole runs against the emulator's software lists (hash/<system>.xml).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "dat/crc.h"
#include "dat/dat_format.h"
#include "platform/text.h"
#include "run/runner.h"
#include "test_util.h"
#include "zlib_compat.h"

namespace quorvin {
namespace {

using test::Contains;
using test::FolderEntries;
using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

class SoftwareListRunTest : public ::testing::Test, protected test::RunFolders {
 protected:
  void UseLists(const std::string& mess, const std::string& system, const std::string& extension) {
    runner.SetMessPath(mess);
    runner.settings.cmbHName.text = system;
    runner.settings.txtExtension = extension;
  }
  bool StatusShown(const std::string& text) const {
    return std::find(rep.statuses.begin(), rep.statuses.end(), text) != rep.statuses.end();
  }
};

// Reads a dat as a strict reader does: a double quote opens a text that the next one on its
// line closes; outside texts, blanks and TABs separate words and "(" and ")" are words of
// their own even next to other characters. Gives each game's "key=value" pairs joined by "|"
// (rom and driver blocks as one value each, their words joined by blanks), or fails the test
// on a stray quote or an unbalanced parenthesis.
std::vector<std::string> ReadDatStrictly(const std::string& dat) {
  static const std::regex kToken(R"re("[^"\n]*"|[()]|[^ \t\r\n()"]+|")re");
  std::vector<std::string> words;
  size_t word_end = std::string::npos;  // where the last word (not a text) ended
  for (auto m = std::sregex_iterator(dat.begin(), dat.end(), kToken); m != std::sregex_iterator();
       ++m) {
    const std::string w = m->str();
    const size_t at = static_cast<size_t>(m->position());
    EXPECT_NE(w, "\"") << "an unclosed quote at " << at;
    EXPECT_FALSE(w[0] == '"' && at == word_end) << "a quote inside a word at " << at;
    if (w[0] == '"') {
      words.push_back("\x02" + w.substr(1, w.size() - 2));  // marked as a text
    } else {
      words.push_back(w);
      if (w != "(" && w != ")") word_end = at + w.size();
    }
  }
  auto text = [](const std::string& w) { return w.starts_with('\x02') ? w.substr(1) : w; };
  std::vector<std::string> games;
  size_t i = 0;
  while (i < words.size()) {
    const std::string head = words[i++];
    EXPECT_TRUE(i < words.size() && words[i] == "(") << "block " << head;
    ++i;
    std::string fields;
    while (i < words.size() && words[i] != ")") {
      const std::string key = words[i++];
      std::string value;
      if (i < words.size() && words[i] == "(") {
        for (++i; i < words.size() && words[i] != ")"; ++i) {
          EXPECT_NE(words[i], "(") << "nested block in " << key;
          value += (value.empty() ? "" : " ") + text(words[i]);
        }
        ++i;
      } else if (i < words.size()) {
        value = text(words[i++]);
      }
      fields += (fields.empty() ? "" : "|") + key + "=" + value;
    }
    EXPECT_LT(i, words.size()) << "block " << head << " is not closed";
    ++i;
    if (head == "game") games.push_back(std::move(fields));
  }
  return games;
}

// Quotes, parentheses, control characters and entities of a software list, and double quotes
// and parentheses of file names, all reach the dat in a form a strict reader takes whole.
TEST_F(SoftwareListRunTest, EveryTextOfTheDatReadsBackWhole) {
  UseNesMessAndArt();
  test::MakeDir(dir / "mess/hash");
  std::filesystem::remove_all(test::Native(dir / "mess/crc"));
  auto software = [](const std::string& crc, const std::string& desc, const std::string& year,
                     const std::string& publisher) {
    return "<software name=\"s\"><description>" + desc + "</description><year>" + year +
           "</year><publisher>" + publisher +
           "</publisher><part name=\"p\"><dataarea name=\"rom\"><rom name=\"r\" size=\"5\" crc=\"" +
           crc + "\"/></dataarea></part></software>\n";
  };
  WriteFile(
      dir / "mess/hash/nes.xml",
      "<?xml version=\"1.0\"?>\n<!DOCTYPE softwarelist [<!ENTITY pub \"Pub &quot;X&quot;\">]>\n"
      "<softwarelist name=\"nes\">\n" +
          software("11111111", "The \"Best\" Game", "1990 (proto)", "&pub;") +
          software("22222222", "Cut&#0;Not", "19??", "A (B)") +
          software("33333333", "Solo(Proto)", "1991", "&quot;") + "</softwarelist>\n");
  WriteFile(dir / "roms/best.nes", test::ForgeCrc("b", 0x11111111));
  WriteFile(dir / "roms/cut.nes", test::ForgeCrc("c", 0x22222222));
  WriteFile(dir / "roms/solo.nes", test::ForgeCrc("s", 0x33333333));
  WriteFile(dir / "roms/Game(U).nes", "own name");
#if !defined(_WIN32)
  WriteFile(dir / "roms/say \"hi\".nes", "own name with quotes");
#endif
  runner.settings.chkCvtRoms = 0;
  ASSERT_TRUE(runner.StartCommand().ok());
  const std::string dat = ReadFile(dir / "out.dat");
  const std::vector<std::string> expected = {
    "name=The Best Game|description=The Best Game|year=1990 (proto)|manufacturer=Pub X|"
    "rom=name The Best Game size 5 crc 11111111|driver=Good ROM",
    "name=CutNot|description=CutNot|year=19??|manufacturer=A (B)|"
    "rom=name CutNot size 5 crc 22222222|driver=Good ROM",
    "name=Game(U)|description=Game(U)|rom=name Game(U) size 8 crc " + CrcText(Crc32("own name")),
#if !defined(_WIN32)
    "name=say hi|description=say hi|rom=name say hi size 20 crc " +
        CrcText(Crc32("own name with quotes")),
#endif
    "name=Solo(Proto)|description=Solo(Proto)|year=1991|manufacturer=|"
    "rom=name Solo(Proto) size 5 crc 33333333|driver=Good ROM",
  };
  EXPECT_EQ(ReadDatStrictly(dat), expected) << dat;
  EXPECT_TRUE(Contains(dat, "\tname \"Game(U)\"\r\n\tdescription \"Game(U)\"\r\n"));
  EXPECT_TRUE(Contains(dat, "\tyear \"1990 (proto)\"\r\n\tmanufacturer \"Pub X\"\r\n"));
}

TEST_F(SoftwareListRunTest, HeaderlessSystemGetsGoodNamesRenamesAndReverts) {
  if (test::TestDataDir().empty()) GTEST_SKIP() << "shared test data not found";
  UseLists(test::TestDataDir() + "/mame", "gameboy", ".gb");  // hash/ only, no crc/
  EXPECT_EQ(std::ranges::count(runner.settings.cmbHName.list, "gameboy"), 1);
  // The listed rom's size and CRC (a file of that CRC and another size is another rom).
  WriteFile(dir / "roms/ac1.gb", test::ForgeCrc(std::string(131068, 'a'), 0x8259ac54));
  WriteFile(dir / "roms/unknown.gb", "not in any list");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(runner.warnings(), 0u);
  EXPECT_TRUE(StatusShown("Status:  Using software list " + test::OsPath("hash/gameboy.xml")));
  EXPECT_EQ(runner.CrcDatabasePath,
            test::TestDataDir() + "/mame" + test::OsPath("/hash/gameboy.xml"));
  const std::string good = "Arcade Classic No. 1 - Asteroids & Missile Command (Europe, USA)";
  const std::string dat = ReadFile(dir / "out.dat");
  EXPECT_TRUE(
      Contains(dat, "\tname \"" + good + "\"\r\n\tdescription \"" + good +
                        "\"\r\n\tyear 1995\r\n\tmanufacturer \"Nintendo\"\r\n\trom ( name \"" +
                        good + "\" size 131072 crc 8259AC54 )\r\n\tdriver ( Good ROM )\r\n"))
      << dat;
  EXPECT_TRUE(Contains(dat, "\tname unknown\r\n"));
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{good + ".gb", "unknown.gb"}));
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"ac1.gb", "unknown.gb"}));
}

// A .nes file: the 16-byte header, then `size` bytes whose CRC is `crc`.
std::string NesFile(uint32_t crc, size_t size) {
  std::string header("NES\x1A\x02\x01\x01\0\0\0\0\0\0\0\0\0", 16);
  return header + test::ForgeCrc(std::string(size - 4, '\x5a'), crc);
}

TEST_F(SoftwareListRunTest, NesFilesMatchByTheirBytesAfterTheHeader) {
  if (test::TestDataDir().empty()) GTEST_SKIP() << "shared test data not found";
  UseLists(test::TestDataDir() + "/mame", "nes", ".nes");
  // A cartridge's CRC is that of its prg rom followed by its chr rom.
  const std::string tenyard = NesFile(test::ZlibCrc32Combine(0xdf58fc5a, 0x2b8336ee, 8192), 40960);
  WriteFile(dir / "roms/10yard.nes", tenyard);
  // A description with "/": the dat keeps it, the file name loses it.
  WriteFile(dir / "roms/smbdh.nes",
            NesFile(test::ZlibCrc32Combine(0x81069812, 0x7ecda8b3, 16384), 81920));
  // The prg alone, with and without a header, is not the two-area cartridge.
  WriteFile(dir / "roms/prgonly.nes", NesFile(0xdf58fc5a, 32768));
  WriteFile(dir / "roms/bare.nes", test::ForgeCrc(std::string(32764, 'b'), 0xdf58fc5a));
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(runner.warnings(), 0u);
  EXPECT_TRUE(StatusShown("Status:  Using software list " + test::OsPath("hash/nes.xml")));
  const std::string dat = ReadFile(dir / "out.dat");
  // The rom line keeps the whole file's size and CRC.
  EXPECT_TRUE(Contains(dat, "\trom ( name \"10-Yard Fight (Euro, USA)\" size 40976 crc " +
                                CrcText(Crc32(tenyard)) + " )\r\n"))
      << dat;
  EXPECT_TRUE(Contains(dat, "\tdescription \"Super Mario Bros. / Duck Hunt (USA)\"\r\n"));
  EXPECT_TRUE(Contains(dat, "\tname \"Super Mario Bros.  Duck Hunt (USA)\"\r\n"));
  EXPECT_TRUE(Contains(dat, "\tname prgonly\r\n"));
  EXPECT_TRUE(Contains(dat, "\tname bare\r\n"));
  EXPECT_EQ(FolderEntries(dir / "roms"),
            (Names{"10-Yard Fight (Euro, USA).nes", "Super Mario Bros.  Duck Hunt (USA).nes",
                   "bare.nes", "prgonly.nes"}));
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(FolderEntries(dir / "roms"),
            (Names{"10yard.nes", "bare.nes", "prgonly.nes", "smbdh.nes"}));
  EXPECT_EQ(ReadFile(dir / "roms/10yard.nes"), tenyard);
}

// The CRC database wins over the software list, and either over none.
TEST_F(SoftwareListRunTest, CrcDatabaseWinsOverTheSoftwareList) {
  test::MakeDir(dir / "mess/crc");
  test::MakeDir(dir / "mess/hash");
  WriteFile(
      dir / "mess/hash/nes.xml",
      "<softwarelist><software name=\"a\"><description>From The List</description>"
      "<part name=\"cart\"><dataarea name=\"prg\"><rom name=\"p\" size=\"9\" crc=\"11111111\"/>"
      "</dataarea></part></software></softwarelist>");
  WriteFile(dir / "mess/crc/nes.crc", "[nes]\r\n11111111=From The Crc File\r\n");
  WriteFile(dir / "roms/a.nes", test::ForgeCrc("abcde", 0x11111111));
  UseLists(dir / "mess", "nes", ".nes");
  runner.settings.chkCvtRoms = 0;
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_TRUE(StatusShown("Status:  Using CRC database " + test::OsPath("crc/nes.crc")));
  EXPECT_TRUE(Contains(ReadFile(dir / "out.dat"), "\tname \"From The Crc File\"\r\n"));
  std::filesystem::remove(dir / "mess/crc/nes.crc");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_TRUE(StatusShown("Status:  Using software list " + test::OsPath("hash/nes.xml")));
  EXPECT_TRUE(Contains(ReadFile(dir / "out.dat"), "\tname \"From The List\"\r\n"));
  std::filesystem::remove(dir / "mess/hash/nes.xml");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_TRUE(StatusShown("Status:  No CRC database or software list for nes"));
  EXPECT_TRUE(Contains(ReadFile(dir / "out.dat"), "\tname a\r\n"));
}

// A list that is not well-formed is a warning naming its file and line, and the run goes on
// without it: nothing is renamed by it.
TEST_F(SoftwareListRunTest, MalformedListIsAWarningAndTheRunGoesOn) {
  test::MakeDir(dir / "mess/hash");
  WriteFile(dir / "mess/hash/nes.xml",
            "<?xml version=\"1.0\"?>\r\n<softwarelist>\r\n<software name=\"a\">\r\n"
            "<description>A &amp; B</descr>\r\n</software>\r\n</softwarelist>\r\n");
  WriteFile(dir / "roms/a.nes", "aaaa");
  UseLists(dir / "mess", "nes", ".nes");
  ASSERT_TRUE(runner.StartCommand().ok());
  ASSERT_EQ(rep.warnings.size(), 1u);
  EXPECT_EQ(runner.warnings(), 1u);
  EXPECT_TRUE(Contains(rep.warnings[0], dir / "mess/hash/nes.xml")) << rep.warnings[0];
  EXPECT_TRUE(Contains(rep.warnings[0], "line 4")) << rep.warnings[0];
  EXPECT_EQ(ReadFile(dir / "out.dat"), ReadFile(dir / "home/tempdat.dat"));
  EXPECT_EQ(FolderEntries(dir / "roms"), Names{"a.nes"});
}

TEST_F(SoftwareListRunTest, SystemListMergesBothFolders) {
  struct Case {
    Names files;  // under the MESS folder
    Names systems;
  } cases[] = {
      {{"crc/nes.crc", "crc/a2600.crc", "hash/nes.xml", "hash/gameboy.xml", "hash/README"},
       {"a2600", "gameboy", "nes"}},
      {{"hash/nes.xml", "hash/coleco.xml"}, {"coleco", "nes"}},
      {{"crc/nes.crc"}, {"nes"}},
      // One system whatever the letter case of its files.
      {{"crc/NES.crc", "hash/nes.xml", "hash/Zx81.xml"}, {"NES", "Zx81"}},
  };
  int i = 0;
  for (const Case& c : cases) {
    const std::string mess = dir / ("mess" + std::to_string(i++));
    test::MakeDir(mess);
    for (const std::string& f : c.files) {
      test::MakeDir(mess + "/" + f.substr(0, f.find('/')));
      WriteFile(mess + "/" + f, "");
    }
    runner.SetMessPath(mess);
    EXPECT_EQ(runner.settings.cmbHName.list, c.systems) << mess;
    runner.SetMessPath(mess);  // the same folder again lists nothing twice
    EXPECT_EQ(runner.settings.cmbHName.list, c.systems) << mess;
  }
  // A folder with neither keeps the list it had.
  runner.SetMessPath(dir / "roms");
  EXPECT_EQ(runner.settings.cmbHName.list, cases[3].systems);
}

}  // namespace
}  // namespace quorvin
