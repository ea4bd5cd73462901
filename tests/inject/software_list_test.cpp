#include "inject/software_list.h"

#include <gtest/gtest.h>

#include "dat/crc.h"
#include "dat/dat_format.h"
#include "dumps.h"
#include "test_util.h"
#include "zlib_compat.h"

namespace quorvin {
namespace {

using test::WriteFile;

std::string RealList(const std::string& name) { return test::TestDataDir() + "/mame/hash/" + name; }

// The CRC text of roms laid end to end, by zlib's own combine (not ours).
std::string Joined(std::initializer_list<std::pair<uint32_t, uint64_t>> roms) {
  uLong crc = 0;
  for (auto [rom_crc, size] : roms) crc = test::ZlibCrc32Combine(crc, rom_crc, size);
  return CrcText(static_cast<uint32_t>(crc));
}

TEST(SoftwareListTest, RealListsGiveGoodNamesForWholeImagesOnly) {
  if (test::TestDataDir().empty()) GTEST_SKIP() << "shared test data not found";
  auto nes = SoftwareList::Load(RealList("nes.xml"));
  auto gameboy = SoftwareList::Load(RealList("gameboy.xml"));
  auto coleco = SoftwareList::Load(RealList("coleco.xml"));
  auto a2600 = SoftwareList::Load(RealList("a2600.xml"));
  ASSERT_TRUE(nes.ok()) << nes.status().ToString();
  ASSERT_TRUE(gameboy.ok() && coleco.ok() && a2600.ok());
  EXPECT_GT(nes->size(), 4000u);
  EXPECT_GT(gameboy->size(), 1600u);
  EXPECT_GT(a2600->size(), 1500u);
  EXPECT_GT(coleco->size(), 200u);
  struct Case {
    const SoftwareList& list;
    std::string crc_text;
    std::string value;  // empty: not found
  } cases[] = {
      // One rom per cartridge; "&amp;" decoded.
      {*gameboy, "8259AC54",
       "Arcade Classic No. 1 - Asteroids & Missile Command (Europe, USA)|1995|Nintendo|Good ROM"},
      {*gameboy, "24D5F785",
       "Altered Space - A 3-D Alien Adventure (Europe)|1991|Hi Tech Expressions|"
       "Good ROM, emulation partial"},
      // prg followed by chr; the prg alone is not the cartridge.
      {*nes, Joined({{0xdf58fc5a, 32768}, {0x2b8336ee, 8192}}),
       "10-Yard Fight (Euro, USA)|1985|Nintendo|Good ROM"},
      {*nes, "DF58FC5A", ""},
      {*nes, "2B8336EE", ""},
      // A reload instruction adds no bytes.
      {*nes, Joined({{0x3a94fa0b, 16384}, {0xe5f72401, 8192}}),
       "Excitebike (Jpn, USA)|1984|Nintendo|Good ROM"},
      {*nes, "AAEF2264",
       "RacerMate Challenge 2 (USA, v5.01.033)|1996|RacerMate|"
       "Known Bad Dump, emulation not supported"},
      // A whole software commented out, and roms listed only inside a comment.
      {*coleco, Joined({{0x1cc13594, 8192}, {0x3aa93ef3, 8192}}), ""},
      {*coleco, "1CC13594", ""},
      {*nes, "A47573A3", ""},
      {*nes, "not a crc", ""},
      {*nes, "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.list.LookupCrcInfo(c.crc_text), c.value) << c.crc_text;
}

// Crafted lists for what the real ones show only once or not at all.
TEST(SoftwareListTest, WhatMakesAnEntry) {
  const uint32_t a = Crc32("AAAA"), b = Crc32("BBBB");
  char hex[3][9];
  std::snprintf(hex[0], sizeof hex[0], "%08x", a);
  std::snprintf(hex[1], sizeof hex[1], "%08x", b);
  auto rom = [](const char* crc, const char* extra) {
    return std::string("<rom name=\"r\" size=\"4\" crc=\"") + crc + "\" " + extra + "/>";
  };
  auto software = [](const std::string& name, const std::string& attrs, const std::string& desc,
                     const std::string& areas) {
    return "<software name=\"" + name + "\" " + attrs + "><description>" + desc +
           "</description><year>1990</year><publisher>Pub &lt;X&gt;</publisher><part name=\"p\">" +
           areas + "</part></software>\n";
  };
  const std::string xml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE softwarelist SYSTEM \"softwarelist.dtd\">\n"
      "<softwarelist name=\"t\">\n"
      "<!-- " +
      software("hidden", "", "Hidden",
               "<dataarea name=\"rom\">" + rom("11111111", "") + "</dataarea>") +
      " -->\n" +
      // Listed out of offset order: laid out by offset.
      software("two", "supported=\"partial\"", "Two &amp; | Three\nLines",
               "<dataarea name=\"rom\">" + rom(hex[1], "offset=\"0x4\"") +
                   rom(hex[0], "offset=\"0\"") + "</dataarea>") +
      // The same image again: the first in file order keeps it.
      software("again", "", "Again",
               "<dataarea name=\"rom\">" + rom(hex[0], "offset=\"0\"") +
                   rom(hex[1], "offset=\"4\"") + "</dataarea>") +
      software("nodump", "", "No Dump",
               "<dataarea name=\"rom\">" + rom("22222222", "") +
                   "<rom name=\"x\" size=\"4\" status=\"nodump\"/></dataarea>") +
      software("nocrc", "", "No Crc",
               "<dataarea name=\"rom\"><rom name=\"x\" size=\"4\"/></dataarea>") +
      software("bad", "supported=\"no\"", "Bad",
               "<dataarea name=\"rom\">" + rom("00000abc", "status=\"baddump\"") + "</dataarea>") +
      software("empty", "", "Empty", "<dataarea name=\"ram\" size=\"8\"></dataarea>") +
      "</softwarelist>\n";
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
  auto software = [](int crc, const std::string& desc, const std::string& publisher) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", crc);
    return "<software name=\"s\"><description>" + desc +
           "</description><year>1990</year>"
           "<publisher>" +
           publisher +
           "</publisher><part name=\"p\"><dataarea name=\"rom\">"
           "<rom name=\"r\" size=\"4\" crc=\"" +
           hex + "\"/></dataarea></part></software>\n";
  };
  std::string bombs;
  for (int i = 0; i < 50; ++i) bombs += "&b11;";
  const std::string xml =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE softwarelist [\n"
      "<!ENTITY co \"Company &amp; Sons\">\n<!ENTITY tm '&#8482;'>\n"
      "<!ENTITY % param \"p\">\n<!ENTITY ext SYSTEM \"x.ent\">\n" +
      bomb +
      "]>\n"
      "<softwarelist name=\"t\">\n" +
      software(1, "Before&#0;After &#x1;x", "&co;") +
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
  const std::string four_crc = CrcText(Crc32("AAAA"));
  struct Case {
    std::string roms;
    std::string crc_text;
    std::string value;
  } cases[] = {
      {"<rom name=\"r\" size=\"0x4\" crc=\"" + four_crc + "\"/>", four_crc, "G|||Good ROM"},
      // Roms of no bytes make an empty image, which would name every empty file.
      {"<rom name=\"r\" size=\"0\" crc=\"00000000\"/>", "0", ""},
      {"<rom name=\"r\" size=\"0x0\" crc=\"0\"/><rom name=\"s\" size=\"0\" crc=\"0\"/>", "0", ""},
      {"<rom name=\"r\" size=\"0x\" crc=\"" + four_crc + "\"/>", four_crc, ""},
      {"<rom name=\"r\" size=\"4\" crc=\"1" + four_crc + "\"/>", four_crc, ""},
      {"<rom name=\"r\" size=\"-4\" crc=\"" + four_crc + "\"/>", four_crc, ""},
      {"<rom name=\"r\" size=\"99999999999999999999999\" crc=\"" + four_crc + "\"/>", four_crc, ""},
      // A character reference in an attribute is decoded like any other.
      {"<rom name=\"r\" size=\"4\" crc=\"&#x31;\"/>", "1", "G|||Good ROM"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    WriteFile(dir / "t.xml",
              "<!DOCTYPE softwarelist [<!ENTITY big \"" + std::string(100000, 'x') +
                  "\">]><softwarelist><software name=\"g\"><description>G</description>"
                  "<part name=\"p\"><dataarea name=\"rom\">" +
                  c.roms + "</dataarea></part></software></softwarelist>");
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
  char crcs[2][9];
  std::snprintf(crcs[0], sizeof crcs[0], "%08x", Crc32(prg));
  std::snprintf(crcs[1], sizeof crcs[1], "%08x", Crc32(chr));
  test::TempDir dir;
  WriteFile(dir / "nes.xml",
            std::string("<softwarelist><software name=\"g\"><description>Game</description>"
                        "<part name=\"cart\"><dataarea name=\"chr\"><rom name=\"c\" size=\"8192\" "
                        "crc=\"") +
                crcs[1] +
                "\"/></dataarea><dataarea name=\"prg\"><rom name=\"p\" size=\"32768\" crc=\"" +
                crcs[0] + "\"/></dataarea></part></software></softwarelist>");
  auto list = SoftwareList::Load(dir / "nes.xml");
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
std::string ListOf(const std::vector<Listed>& softwares) {
  std::string xml = "<softwarelist>";
  for (const Listed& l : softwares) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", l.crc);
    xml += "<software name=\"s\"><description>" + l.description +
           "</description><part name=\"cart\"><dataarea name=\"rom\"><rom name=\"r\" size=\"" +
           std::to_string(l.size) + "\" crc=\"" + crc + "\"/></dataarea></part></software>";
  }
  return xml + "</softwarelist>";
}

TEST(SoftwareListTest, EveryMatchAgreesOnSizeAndCrc) {
  const uint32_t x = 0x5EED5EED;
  auto list = SoftwareList::Parse(
      ListOf({{"Small", 100, x}, {"Large", 200, x}, {"Again", 100, x}, {"Other", 300, 0x77}}),
      "t.xml");
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
  auto list = SoftwareList::Parse(ListOf({{"Lynx Game", after_lynx.size(), Crc32(after_lynx)},
                                          {"PCE Game", after_pce.size(), Crc32(after_pce)}}),
                                  "t.xml");
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
