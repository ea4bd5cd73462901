// Whole runs whose output dat is in the XML format, against the same runs in text.
#include <gtest/gtest.h>

#include <filesystem>
#include <pugixml.hpp>

#include "dat/dat_writer.h"
#include "run/runner.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::Contains;
using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

// Collects what a dat reader hands over.
struct Collected : DatWriter {
  Status WriteHeader(const DatHeader& h) override {
    header = h;
    return Status::Ok();
  }
  Status WriteGame(const DatGame& g) override {
    games.push_back(g);
    return Status::Ok();
  }
  Status WriteOtherLines(const std::vector<std::string>& l) override {
    for (const std::string& line : l) other += !line.empty();
    return Status::Ok();
  }
  Status Commit() override { return Status::Ok(); }
  DatHeader header;
  std::vector<DatGame> games;
  size_t other = 0;
};

std::string Text(const pugi::xml_node& n, const char* child) { return n.child(child).text().get(); }

class XmlDatRunTest : public ::testing::Test, protected test::RunFolders {
 protected:
  XmlDatRunTest() {
    UseNesMessAndArt();
    runner.settings.chkCvtRoms = 0;
    runner.settings.txtRenamePaths.clear();
    runner.settings.txtDesc = "Nintendo NES";
    WriteFile(dir / "mess/crc/nes.crc",
              "[nes]\r\n352441c2=Alpha Quest (U) [!] | 1987 | Maker & Co. | status \"good\" ]]>\r\n"
              "e7ddce=Beta: <The> ]]> \"Game\" | 19xx\r\n");
    WriteFile(dir / "roms/Alpha.nes", "abc");
    WriteFile(dir / "roms/Beta & Game.nes", "ae");
    WriteFile(dir / "roms/Zero.nes", "");
    WriteFile(dir / "roms/Pok\xc3\xa9mon 'X'.nes", "x");
  }
  // Runs once into `name` (in dir) and gives back the warnings of that run.
  Names RunInto(const std::string& name) {
    runner.settings.txtOutput = dir / name;
    rep.warnings.clear();
    Status s = runner.StartCommand();
    EXPECT_TRUE(s.ok()) << s.message();
    return rep.warnings;
  }
  // The games of the text dat and of the XML dat, which must be the same, in the same order.
  void ExpectSameGames(const std::string& text_dat, const std::string& xml_dat) {
    Collected text;
    ASSERT_TRUE(ReadTextDat(text_dat, text).ok());
    EXPECT_EQ(text.other, 0u);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(test::Native(xml_dat).c_str()));
    pugi::xml_node root = doc.child("datafile");
    pugi::xml_node header = root.child("header");
    EXPECT_EQ(Text(header, "name"), text.header.name);
    EXPECT_EQ(Text(header, "description"), text.header.description);
    EXPECT_EQ(Text(header, "author"), text.header.author);
    EXPECT_EQ(Text(header, "version"), DatVersionOfToday());
    size_t i = 0;
    for (pugi::xml_node g : root.children("game")) {
      ASSERT_LT(i, text.games.size());
      const DatGame& t = text.games[i++];
      EXPECT_EQ(std::string(g.attribute("name").value()), t.name);
      EXPECT_EQ(Text(g, "description"), t.description);
      EXPECT_EQ(Text(g, "year"), t.year);
      EXPECT_EQ(Text(g, "manufacturer"), t.manufacturer);
      EXPECT_EQ(Text(g, "comment"), t.driver);
      size_t r = 0;
      for (pugi::xml_node rom : g.children("rom")) {
        ASSERT_LT(r, t.roms.size());
        EXPECT_EQ(std::string(rom.attribute("name").value()), t.roms[r].name);
        EXPECT_EQ(rom.attribute("size").as_ullong(), t.roms[r].size);
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(t.roms[r].crc));
        EXPECT_EQ(std::string(rom.attribute("crc").value()), crc);
        ++r;
      }
      EXPECT_EQ(r, t.roms.size());
    }
    EXPECT_EQ(i, text.games.size());
    EXPECT_EQ(i, 4u);
  }
};

// Every run writes the same games in either format, and every XML dat, the headless
// program's too, is valid by the format's DTD.
TEST_F(XmlDatRunTest, TheSameCollectionWrittenBothWaysHoldsTheSameGames) {
  EXPECT_EQ(RunInto("out.dat"), Names{});
  EXPECT_EQ(RunInto("out.xml"), Names{});
  const std::string text = ReadFile(dir / "out.dat");
  EXPECT_TRUE(Contains(text,
                       "\tname \"Alpha Quest (U) [!]\"\r\n\tdescription \"Alpha Quest (U) "
                       "[!]\"\r\n\tyear 1987\r\n\tmanufacturer \"Maker & Co.\"\r\n"));
  ExpectSameGames(dir / "out.dat", dir / "out.xml");
  const std::string xml = ReadFile(dir / "out.xml");
  EXPECT_TRUE(Contains(xml,
                       "\t<game name=\"Alpha Quest (U) [!]\">\r\n"
                       // The dat's texts hold no double quotes of their own.
                       "\t\t<comment>status good ]]&gt;</comment>\r\n"
                       "\t\t<description>Alpha Quest (U) [!]</description>\r\n"
                       "\t\t<year>1987</year>\r\n"
                       "\t\t<manufacturer>Maker &amp; Co.</manufacturer>\r\n"
                       "\t\t<rom name=\"Alpha Quest (U) [!]\" size=\"3\" crc=\"352441c2\" />"))
      << xml;
  // ">" needs no escape in an attribute; "]]>" in content does.
  EXPECT_TRUE(Contains(xml,
                       "<game name=\"Beta &lt;The> ]]> Game\">\r\n"
                       "\t\t<description>Beta: &lt;The&gt; ]]&gt; Game</description>"))
      << xml;
  EXPECT_TRUE(Contains(xml, "<rom name=\"Zero\" size=\"0\" crc=\"00000000\" />")) << xml;

  // The headless program, with the MESS stage, into a name in capitals.
  const std::string list = dir / "mess/" + "|" + dir / "roms" + "|nes|nes|Nintendo NES||0||" +
                           dir / "cli.XML" + "||0|0|0|0|0";
  std::string cli_out;
  EXPECT_EQ(test::RunCommand(test::WithEnvironment("QUORVIN_HOME", dir / "home") +
                                 test::ShellQuote(QUORVIN_CLI) + " " + test::ShellQuote(list),
                             &cli_out),
            0)
      << cli_out;
  ExpectSameGames(dir / "out.dat", dir / "cli.XML");

  // Without the MESS stage the temporary dat's games are written, in either format.
  runner.settings.txtMessPath.clear();
  EXPECT_EQ(RunInto("plain.dat"), Names{});
  EXPECT_EQ(RunInto("plain.XML"), Names{});
  EXPECT_EQ(ReadFile(dir / "plain.dat"), ReadFile(dir / "home/tempdat.dat"));
  ExpectSameGames(dir / "plain.dat", dir / "plain.XML");

  std::string version;
  if (test::RunCommand("xmllint --version", &version) != 0) {
#ifdef _WIN32
    // The checks above ran; the DTD is checked by the Linux suite (the Windows program's
    // dats are compared with the Linux program's byte for byte by the end-to-end test).
    return;
#else
    FAIL() << "xmllint is needed (Debian: libxml2-utils)";
#endif
  }
  for (const char* name : {"out.xml", "plain.XML", "cli.XML"}) {
    std::string output;
    const std::string command = "xmllint --nonet --noout --dtdvalid " +
                                test::ShellQuote(QUORVIN_TEST_DATA "/datafile.dtd") + " " +
                                test::ShellQuote(dir / name);
    EXPECT_EQ(test::RunCommand(command, &output), 0) << command << "\n" << output;
    EXPECT_FALSE(Contains(output, "validity error")) << output;
  }
}

TEST_F(XmlDatRunTest, TheFrontEndsCopyIsAlwaysTheText) {
  test::MakeDir(dir / "dk");
  test::MakeDir(dir / "dk/list generator");
  test::MakeDir(dir / "dk/list generator/dats");
  RunSettings& s = runner.settings;
  s.txtDkPath = dir / "dk";
  s.chkMakeCfg = s.chkRomAdd = s.chkArtwork = s.chkVdirAdd = 0;
  s.chkDatAdd = 1;
  for (bool mess : {true, false}) {
    if (!mess) s.txtMessPath.clear();
    EXPECT_EQ(RunInto("out.dat"), Names{});
    const std::string text = ReadFile(dir / "out.dat");
    EXPECT_EQ(ReadFile(dir / "dk/list generator/dats/nes.dat"), text);
    WriteFile(dir / "dk/list generator/dats/nes.dat", "stale");
    EXPECT_EQ(RunInto("out.xml"), Names{});
    EXPECT_EQ(ReadFile(dir / "dk/list generator/dats/nes.dat"), text) << "MESS stage: " << mess;
    EXPECT_TRUE(ReadFile(dir / "out.xml").starts_with("<?xml"));
  }
}

TEST_F(XmlDatRunTest, AReadOnlyXmlDatStopsTheRunBeforeAnythingIsRenamed) {
  runner.settings.chkCvtRoms = 1;
  WriteFile(dir / "out.XML", "old");
  test::MakeReadOnly(dir / "out.XML");
  runner.settings.txtOutput = dir / "out.XML";
  EXPECT_FALSE(runner.StartCommand().ok());
  EXPECT_EQ(rep.messages, Names{"File Error: The file " + dir / "out.XML" + " is read-only"});
  EXPECT_EQ(ReadFile(dir / "out.XML"), "old");
  EXPECT_TRUE(test::Exists(dir / "roms/Alpha.nes"));
}

// A software list's character references: "&#0;" (which XML 1.0 forbids, but a list may hold)
// is left out and cuts nothing short; "&amp;" arrives as "&" and is escaped again.
TEST_F(XmlDatRunTest, CharacterReferencesOfASoftwareListComeOutAsTextXmlCanHold) {
  std::filesystem::remove(dir / "mess/crc/nes.crc");
  test::MakeDir(dir / "mess/hash");
  WriteFile(
      dir / "mess/hash/nes.xml",
      "<softwarelist><software name=\"a\"><description>Bad&#0;Name &amp;&#x00; Co</description>"
      "<year>1990</year><part name=\"cart\"><dataarea name=\"prg\">"
      "<rom name=\"p\" size=\"9\" crc=\"11111111\"/></dataarea></part></software>"
      "</softwarelist>");
  WriteFile(dir / "roms/a.nes", test::ForgeCrc("abcde", 0x11111111));
  runner.SetMessPath(dir / "mess");
  runner.settings.cmbHName.text = "nes";
  RunInto("out.dat");
  RunInto("out.xml");
  const std::string text = ReadFile(dir / "out.dat");
  EXPECT_EQ(text.find('\0'), std::string::npos);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(test::Native(dir / "out.xml").c_str()));
  pugi::xml_node g = doc.select_node("/datafile/game[contains(description, 'Bad')]").node();
  ASSERT_TRUE(g) << ReadFile(dir / "out.xml");
  const std::string description = Text(g, "description");
  EXPECT_TRUE(Contains(text, "\tdescription \"" + description + "\"\r\n")) << description;
  // Whatever the reference becomes, the text after it is there.
  EXPECT_TRUE(Contains(description, "Name &") && description.ends_with("Co")) << description;
  EXPECT_EQ(Text(g, "year"), "1990");
}

#ifndef _WIN32
// A Linux file name is bytes: one that is not UTF-8 keeps its bytes in the text dat, and the
// XML dat takes each such byte as the Latin-1 character of its value, with a warning.
TEST_F(XmlDatRunTest, ANameThatIsNotUtf8IsWrittenAsLatin1WithAWarning) {
  WriteFile(dir / "roms/Caf\xe9.nes", "c");
  EXPECT_EQ(RunInto("out.dat"), Names{});
  EXPECT_TRUE(Contains(ReadFile(dir / "out.dat"), "\tname Caf\xe9\r\n"));
  Names warnings = RunInto("out.xml");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_TRUE(Contains(warnings[0], "Latin-1")) << warnings[0];
  EXPECT_TRUE(Contains(warnings[0], dir / "out.xml")) << warnings[0];
  EXPECT_TRUE(Contains(ReadFile(dir / "out.xml"), "<game name=\"Caf\xc3\xa9\">"));
}
#endif

}  // namespace
}  // namespace quorvin
