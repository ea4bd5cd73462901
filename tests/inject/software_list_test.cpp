#include "inject/software_list.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "dat/crc.h"
#include "dat/dat_format.h"
#include "dumps.h"
#include "test_util.h"
#include "zlib_compat.h"

namespace quorvin {
namespace {

using test::WriteFile;

// The CRC text of roms laid end to end, by zlib's own combine (not ours).
std::string Joined(std::initializer_list<std::pair<uint32_t, uint64_t>> roms) {
  uLong crc = 0;
  for (auto [rom_crc, size] : roms) crc = test::ZlibCrc32Combine(crc, rom_crc, size);
  return CrcText(static_cast<uint32_t>(crc));
}

// A CRC as the lists write it: eight lower-case hexadecimal digits.
std::string Hex(uint32_t crc) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", crc);
  return hex;
}

// Pieces of the test's own lists: a rom, a data area, and a software holding those areas
// whose description is followed by `more` (year, publisher).
std::string Rom(const std::string& crc, const std::string& extra = "",
                const std::string& size = "4") {
  return "<rom name=\"r\" size=\"" + size + "\" crc=\"" + crc + "\" " + extra + "/>";
}
std::string Area(const std::string& roms, const std::string& name = "rom") {
  return "<dataarea name=\"" + name + "\">" + roms + "</dataarea>";
}
std::string Software(const std::string& desc, const std::string& areas,
                     const std::string& more = "", const std::string& attrs = "") {
  return "<software name=\"s\" " + attrs + "><description>" + desc + "</description>" + more +
         "<part name=\"p\">" + areas + "</part></software>\n";
}

TEST(SoftwareListTest, RealListsGiveGoodNamesForWholeImagesOnly) {
  if (test::TestDataDir().empty()) GTEST_SKIP() << "shared test data not found";
  auto load = [](const std::string& name, size_t more_than) {
    auto list = SoftwareList::Load(test::TestDataDir() + "/mame/hash/" + name + ".xml");
    EXPECT_TRUE(list.ok()) << name << ": " << list.status().ToString();
    EXPECT_GT(list.ok() ? list->size() : 0, more_than) << name;
    return list.ok() ? std::move(*list) : SoftwareList();
  };
  const SoftwareList nes = load("nes", 4000), gameboy = load("gameboy", 1600),
                     coleco = load("coleco", 200);
  load("a2600", 1500);
  struct Case {
    const SoftwareList& list;
    std::string crc_text;
    std::string value;  // empty: not found
  } cases[] = {
      // One rom per cartridge; "&amp;" decoded.
      {gameboy, "8259AC54",
       "Arcade Classic No. 1 - Asteroids & Missile Command (Europe, USA)|1995|Nintendo|Good ROM"},
      {gameboy, "24D5F785",
       "Altered Space - A 3-D Alien Adventure (Europe)|1991|Hi Tech Expressions|"
       "Good ROM, emulation partial"},
      // prg followed by chr; the prg alone is not the cartridge.
      {nes, Joined({{0xdf58fc5a, 32768}, {0x2b8336ee, 8192}}),
       "10-Yard Fight (Euro, USA)|1985|Nintendo|Good ROM"},
      {nes, "DF58FC5A", ""},
      {nes, "2B8336EE", ""},
      // A reload instruction adds no bytes.
      {nes, Joined({{0x3a94fa0b, 16384}, {0xe5f72401, 8192}}),
       "Excitebike (Jpn, USA)|1984|Nintendo|Good ROM"},
      {nes, "AAEF2264",
       "RacerMate Challenge 2 (USA, v5.01.033)|1996|RacerMate|"
       "Known Bad Dump, emulation not supported"},
      // A whole software commented out, and roms listed only inside a comment.
      {coleco, Joined({{0x1cc13594, 8192}, {0x3aa93ef3, 8192}}), ""},
      {coleco, "1CC13594", ""},
      {nes, "A47573A3", ""},
      {nes, "not a crc", ""},
      {nes, "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.list.LookupCrcInfo(c.crc_text), c.value) << c.crc_text;
}

// Crafted lists for what the real ones show only once or not at all.
TEST(SoftwareListTest, WhatMakesAnEntry) {
  const std::string a = Hex(Crc32("AAAA")), b = Hex(Crc32("BBBB"));
  auto software = [](const std::string& desc, const std::string& roms,
                     const std::string& attrs = "") {
    return Software(desc, Area(roms), "<year>1990</year><publisher>Pub &lt;X&gt;</publisher>",
                    attrs);
  };
  const std::string xml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE softwarelist SYSTEM \"softwarelist.dtd\">\n"
      "<softwarelist name=\"t\">\n<!-- " +
      software("Hidden", Rom("11111111")) + " -->\n" +
      // Listed out of offset order: laid out by offset.
      software("Two &amp; | Three\nLines", Rom(b, "offset=\"0x4\"") + Rom(a, "offset=\"0\""),
               "supported=\"partial\"") +
      // The same image again: the first in file order keeps it.
      software("Again", Rom(a, "offset=\"0\"") + Rom(b, "offset=\"4\"")) +
      software("No Dump", Rom("22222222") + "<rom name=\"x\" size=\"4\" status=\"nodump\"/>") +
      software("No Crc", "<rom name=\"x\" size=\"4\"/>") +
      software("Bad", Rom("00000abc", "status=\"baddump\""), "supported=\"no\"") +
      Software("Empty", "<dataarea name=\"ram\" size=\"8\"></dataarea>") + "</softwarelist>\n";
  test::TempDir dir;
  WriteFile(dir / "t.xml", xml);
  auto list = SoftwareList::Load(dir / "t.xml");
  ASSERT_TRUE(list.ok()) << list.status().ToString();
  EXPECT_EQ(list->size(), 2u);
  EXPECT_EQ(list->LookupCrcInfo(CrcText(Crc32("AAAABBBB"))),
            "Two & - Three Lines|1990|Pub <X>|Good ROM, emulation partial");
  EXPECT_EQ(list->LookupCrcInfo(CrcText(Crc32("BBBBAAAA"))), "");
  EXPECT_EQ(list->LookupCrcInfo("11111111"), "");
  EXPECT_EQ(list->LookupCrcInfo("22222222"), "");
  // Keys written with leading zeros are numbers: a short CRC text finds them.
  EXPECT_EQ(list->LookupCrcInfo("ABC"), "Bad|1990|Pub <X>|Known Bad Dump, emulation not supported");
  EXPECT_EQ(list->LookupCrcInfo("00000ABC"), list->LookupCrcInfo("ABC"));
}

// Texts are never cut short: "&#0;" and other control characters are dropped, the entities
// the list declares in its DOCTYPE are expanded (within a bound, so that entities of entities
// cannot blow up), references nobody declared stay as written, and a comment or a CDATA piece
// inside a text keeps the rest of it.
TEST(SoftwareListTest, TextsAreNeverCutAndDeclaredEntitiesExpand) {
  std::string bomb = "<!ENTITY b0 \"0123456789012345678901234567890123456789\">\n";
  for (int i = 1; i < 12; ++i) {
    bomb += "<!ENTITY b" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) bomb += "&b" + std::to_string(i - 1) + ";";
    bomb += "\">\n";
  }
  auto software = [](uint32_t crc, const std::string& desc, const std::string& publisher) {
    return Software(desc, Area(Rom(Hex(crc))),
                    "<year>1990</year><publisher>" + publisher + "</publisher>");
  };
  std::string bombs;
  for (int i = 0; i < 50; ++i) bombs += "&b11;";
  const std::string xml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE softwarelist [\n"
      "<!ENTITY co \"Company &amp; Sons\">\n<!ENTITY tm '&#8482;'>\n"
      "<!ENTITY % param \"p\">\n<!ENTITY ext SYSTEM \"x.ent\">\n" +
      bomb + "]>\n<softwarelist name=\"t\">\n" + software(1, "Before&#0;After &#x1;x", "&co;") +
      software(2, "Brand&tm; &unknown; &ext; &#xD800;", "A &amp;&amp; B") +
      software(3, "Half <!-- note --> two<![CDATA[ & three]]>", "&lt;&quot;&gt;") +
      software(4, "Big " + bombs, "p") + "</softwarelist>\n";
  auto list = SoftwareList::Parse(xml, "t.xml");
  ASSERT_TRUE(list.ok()) << list.status().ToString();
  EXPECT_EQ(list->LookupCrcInfo("1"), "BeforeAfter x|1990|Company & Sons|Good ROM");
  EXPECT_EQ(list->LookupCrcInfo("2"), "Brand\u2122 &unknown; &ext; &#xD800;|1990|A && B|Good ROM");
  EXPECT_EQ(list->LookupCrcInfo("3"), "Half  two & three|1990|<\">|Good ROM");
  // Entities of entities are expanded only as long as the bound allows, then kept as written:
  // the text is long but bounded, and still ends with a reference, not cut.
  const std::string_view big = list->LookupCrcInfo("4");
  EXPECT_TRUE(big.starts_with("Big ")) << big.substr(0, 40);
  EXPECT_LT(big.size(), size_t{16} << 20);
  EXPECT_TRUE(big.ends_with("&b11;|1990|p|Good ROM")) << big.substr(big.size() - 40);
}

// Odd and hostile rom attributes: each list holds one software; `crc_text` finds its entry
// or, when `value` is empty, nothing (an empty file's dat line says "0").
TEST(SoftwareListTest, OddRomAttributesMakeNoFalseEntries) {
  const std::string four = CrcText(Crc32("AAAA"));
  struct Case {
    std::string roms;
    std::string crc_text;
    std::string value;
  } cases[] = {
      {Rom(four, "", "0x4"), four, "G|||Good ROM"},
      // Roms of no bytes make an empty image, which would name every empty file.
      {Rom("00000000", "", "0"), "0", ""},
      {Rom("0", "", "0x0") + Rom("0", "", "0"), "0", ""},
      {Rom(four, "", "0x"), four, ""},
      {Rom("1" + four), four, ""},
      {Rom(four, "", "-4"), four, ""},
      {Rom(four, "", "99999999999999999999999"), four, ""},
      // A character reference in an attribute is decoded like any other.
      {Rom("&#x31;"), "1", "G|||Good ROM"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    WriteFile(dir / "t.xml", "<!DOCTYPE softwarelist [<!ENTITY big \"" + std::string(100000, 'x') +
                                 "\">]><softwarelist>" + Software("G", Area(c.roms)) +
                                 "</softwarelist>");
    auto list = SoftwareList::Load(dir / "t.xml");
    ASSERT_TRUE(list.ok()) << list.status().ToString();
    EXPECT_EQ(list->LookupCrcInfo(c.crc_text), c.value) << c.roms;
    EXPECT_EQ(list->size(), c.value.empty() ? 0u : 1u) << c.roms;
  }
}

TEST(SoftwareListTest, BrokenAndEmptyFiles) {
  test::TempDir dir;
  struct Case {
    std::string text;
    std::string message_part;  // empty: loads, with no entries
  } cases[] = {
      {"", ""},
      {" \r\n\t\r\n", ""},
      {"<softwarelist name=\"x\"/>", ""},
      {"<?xml version=\"1.0\"?>\r\n<softwarelist>\r\n<software name=\"a\">\r\n"
       "<description>A</descr>\r\n</software></softwarelist>\r\n",
       "line 4"},
      {"<softwarelist>\n<software name=\"a\"\n", "line 2"},
      {"<softwarelist>\n</softwarelist>\n<extra/>\n", "line 3"},
      {"not xml at all", "line 1"},
      {"<datafile><game/></datafile>", "is not a software list"},
  };
  for (const Case& c : cases) {
    WriteFile(dir / "nes.xml", c.text);
    auto list = SoftwareList::Load(dir / "nes.xml");
    if (c.message_part.empty()) {
      ASSERT_TRUE(list.ok()) << c.text;
      EXPECT_EQ(list->size(), 0u);
      continue;
    }
    ASSERT_FALSE(list.ok()) << c.text;
    EXPECT_EQ(list.status().kind(), ErrorKind::kCorrupt);
    EXPECT_NE(list.status().message().find(dir / "nes.xml"), std::string::npos);
    EXPECT_NE(list.status().message().find(c.message_part), std::string::npos)
        << list.status().message();
  }
  EXPECT_EQ(SoftwareList::Load(dir / "none.xml").status().kind(), ErrorKind::kNotFound);
}

TEST(SoftwareListTest, HeaderedFilesAreFoundByTheirBytesAfterTheHeader) {
  const std::string prg(32768, 'p'), chr(8192, 'c');
  // The chr area listed first: the prg comes first in the image all the same.
  auto list =
      SoftwareList::Parse("<softwarelist>" +
                              Software("Game", Area(Rom(Hex(Crc32(chr)), "", "8192"), "chr") +
                                                   Area(Rom(Hex(Crc32(prg)), "", "32768"), "prg")) +
                              "</softwarelist>",
                          "nes.xml");
  ASSERT_TRUE(list.ok());
  const std::string header("NES\x1A\x02\x01\0\0\0\0\0\0\0\0\0\0", 16);
  HeaderlessCrcs headerless;
  struct File {
    std::string crc;
    uint64_t size;
  };
  auto note = [&headerless](const std::string& file) {
    headerless.Note(std::string_view(file).substr(0, kRomHeadBytes), file.size(), Crc32(file));
    return File{CrcText(Crc32(file)), file.size()};
  };
  auto lookup = [&list](const File& f) { return list->LookupRom(f.crc, f.size).value; };
  const File good = note(header + prg + chr);     // prg before chr
  const File swapped = note(header + chr + prg);  // wrong order
  const File prg_only = note(header + prg);       // the prg alone
  const File no_header = {CrcText(Crc32("NES\x1B" + header.substr(4) + prg + chr)), good.size};
  EXPECT_EQ(lookup(good), "");  // not until the table is given
  list->UseHeaderlessCrcs(&headerless);
  EXPECT_EQ(lookup(good), "Game|||Good ROM");
  EXPECT_EQ(lookup({CrcText(Crc32(prg + chr)), prg.size() + chr.size()}), "Game|||Good ROM");
  EXPECT_EQ(lookup(swapped), "");
  EXPECT_EQ(lookup(prg_only), "");
  EXPECT_EQ(lookup(no_header), "");
  // Bytes after the header with the right CRC but another length are another image.
  const std::string forged = test::ForgeCrc(std::string(100, 'x'), Crc32(prg + chr));
  EXPECT_EQ(lookup(note(header + forged)), "");
  // Nor does a file of the right CRC but another size take the entry.
  EXPECT_EQ(lookup({CrcText(Crc32(prg + chr)), prg.size() + chr.size() + 1}), "");
}

// A list of one-rom software written by the test: {description, size, crc}.
struct Listed {
  std::string description;
  uint64_t size;
  uint32_t crc;
};
Result<SoftwareList> ListOf(const std::vector<Listed>& softwares) {
  std::string xml = "<softwarelist>";
  for (const Listed& l : softwares) {
    xml += Software(l.description, Area(Rom(Hex(l.crc), "", std::to_string(l.size))));
  }
  return SoftwareList::Parse(xml + "</softwarelist>", "t.xml");
}

TEST(SoftwareListTest, EveryMatchAgreesOnSizeAndCrc) {
  const uint32_t x = 0x5EED5EED;
  auto list =
      ListOf({{"Small", 100, x}, {"Large", 200, x}, {"Again", 100, x}, {"Other", 300, 0x77}});
  ASSERT_TRUE(list.ok());
  EXPECT_EQ(list->size(), 3u);  // the repeated image is one entry
  const std::string header = test::Padded("LYNX", 64);
  HeaderlessCrcs headerless;
  list->UseHeaderlessCrcs(&headerless);
  struct Case {
    std::string what;
    std::string file;
    std::string value;
  } cases[] = {
      {"the whole file, of one size", test::ForgeCrc(std::string(96, 'a'), x), "Small|||Good ROM"},
      {"the whole file, of the other", test::ForgeCrc(std::string(196, 'b'), x),
       "Large|||Good ROM"},
      {"the whole CRC, another size", test::ForgeCrc(std::string(146, 'c'), x), ""},
      {"after a header", header + test::ForgeCrc(std::string(196, 'd'), x), "Large|||Good ROM"},
      // The data after the header has a listed CRC, but no entry of its size has it.
      {"after a header, another size", header + test::ForgeCrc(std::string(296, 'e'), x), ""},
      {"after a header, another CRC", header + test::ForgeCrc(std::string(296, 'e'), 0x78), ""},
  };
  for (const Case& c : cases) {
    headerless.Note(std::string_view(c.file).substr(0, kRomHeadBytes), c.file.size(),
                    Crc32(c.file));
    const auto match = list->LookupRom(CrcText(Crc32(c.file)), c.file.size());
    EXPECT_EQ(match.value, c.value) << c.what;
    EXPECT_TRUE(match.ambiguous.empty()) << c.what;
  }
  // Without a size, as a CRC database would be asked: the first in file order.
  EXPECT_EQ(list->LookupCrcInfo(CrcText(x)), "Small|||Good ROM");
  EXPECT_EQ(list->LookupRom(CrcText(x), std::nullopt).value, "Small|||Good ROM");
}

TEST(SoftwareListTest, DataThatFitsTwoEntriesIsAmbiguous) {
  // A Lynx header on a file whose size also fits the PC Engine rule: two guesses, each listed.
  const std::string file = test::Padded("LYNX", 64) + std::string(8192 + 512 - 64, 'z');
  const std::string after_lynx = file.substr(64), after_pce = file.substr(512);
  auto list = ListOf({{"Lynx Game", after_lynx.size(), Crc32(after_lynx)},
                      {"PCE Game", after_pce.size(), Crc32(after_pce)}});
  ASSERT_TRUE(list.ok());
  HeaderlessCrcs headerless;
  headerless.Note(std::string_view(file).substr(0, kRomHeadBytes), file.size(), Crc32(file));
  list->UseHeaderlessCrcs(&headerless);
  const auto match = list->LookupRom(CrcText(Crc32(file)), file.size());
  EXPECT_EQ(match.value, "");
  EXPECT_EQ(match.ambiguous,
            (std::vector<std::string_view>{"Lynx Game|||Good ROM", "PCE Game|||Good ROM"}));
}

}  // namespace
}  // namespace quorvin
