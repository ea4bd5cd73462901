#include "dat/dat_writer.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "platform/text.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(DatWriterTest, TheNameEndingChoosesTheFormat) {
  for (const char* path : {"out.xml", "out.XML", "/a b/Out.Xml", ".xml"}) {
    EXPECT_EQ(DatFormatOf(path), DatFormat::kXml) << path;
  }
  for (const char* path : {"out.dat", "out.xml.dat", "outxml", "out.xm", "", "xml"}) {
    EXPECT_EQ(DatFormatOf(path), DatFormat::kText) << path;
  }
}

// Names the scan writes, however odd: each block's lines come back from their game exactly.
TEST(DatWriterTest, TextGamesReadBackToTheirOwnLines) {
  struct Case {
    std::string name;
    std::vector<std::string> lines;
    const char* description = nullptr;  // nullptr: the name
    const char* rom_name = nullptr;     // nullptr: the name
  } cases[] = {
      {"Alpha",
       {"\tname Alpha", "\tdescription \"Alpha\"", "\trom ( name Alpha size 3 crc 352441C2 )"}},
      {"Beta Game",
       {"\tname \"Beta Game\"", "\tdescription \"Beta Game\"",
        "\trom ( name \"Beta Game\" size 2 crc E7DDCE )"}},
      {"\"x\"", {"\tname \"x\"", "\tdescription \"x\"", "\trom ( name \"x\" size 0 crc 0 )"}},
      {" a ",
       {"\tname \" a \"", "\tdescription \" a \"", "\trom ( name a size 1 crc 1 )"},
       " a ",
       "a"},
      {"my size 2 crc game",
       {"\tname \"my size 2 crc game\"", "\tdescription \"my size 2 crc game\"",
        "\trom ( name \"my size 2 crc game\" size 9 crc FFFFFFFF )"}},
      {"", {"\tname ", "\tdescription \"\"", "\trom ( name  size 0 crc 0 )"}},
      {"Good",
       {"\tname Good", "\tdescription \"Good: the One\"", "\tyear 1987", "\tmanufacturer \"A & B\"",
        "\trom ( name Good size 1 crc 11 )", "\tdriver ( x )"},
       "Good: the One"},
      // Dat-safe texts read back as their values: a name with a parenthesis, a year with a
      // blank, driver notes with a parenthesis; and a name of the old CRC files' form.
      {"Game(U)",
       {"\tname \"Game(U)\"", "\tdescription \"Game(U)\"", "\tyear \"1990 (proto)\"",
        "\trom ( name \"Game(U)\" size 1 crc 1 )", "\tdriver ( \"Bad (x)\" )"}},
      {"Old(maybebad)",
       {"\tname Old(maybebad)", "\tdescription \"Old(maybebad)\"",
        "\trom ( name Old(maybebad) size 1 crc 1 )"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines[0]);
    std::optional<DatGame> g = ReadTextGame(c.lines);
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->name, c.name);
    EXPECT_EQ(g->description, c.description ? c.description : c.name);
    ASSERT_EQ(g->roms.size(), 1u);
    EXPECT_EQ(g->roms[0].name, c.rom_name ? c.rom_name : c.name);
    EXPECT_EQ(TextGameLines(*g), c.lines);
  }
}

TEST(DatWriterTest, LinesNotInTheWritersFormAreNoGame) {
  const std::vector<std::vector<std::string>> cases = {
      {"\tname a", "\tdescription a", "\trom ( name a size 1 crc 11 )"},       // unquoted
      {"\tname a", "\tdescription \"a\"", "\trom ( name a size 1 crc 011 )"},  // padded crc
      {"\tname a", "\tdescription \"a\"", "\trom ( name a size 1 crc 1a )"},   // lower case
      {"\tname a", "\tdescription \"a\"", "\trom ( name a size x crc 1 )"},
      {"\tname a", "\tdescription \"a\"", "\trom ( name a size 1 crc 1 ) "},
      {"\tname a", "\tdescription \"a\""},
      {"\tname a", "\tdescription \"a\"", "\tyear ", "\trom ( name a size 1 crc 1 )"},
      // Texts the writer cannot give back, since it writes them dat-safe: an unbalanced
      // quote, a double quote inside a quoted text, a year with a blank left unquoted.
      {"\tname \"x", "\tdescription \"x", "\trom ( name \"x size 1 crc 1 )"},
      {"\tname a", "\tdescription \"a: \"the\" b\"", "\trom ( name a size 1 crc 1 )"},
      {"\tname a", "\tdescription \"a\"", "\tyear 1990 (proto)", "\trom ( name a size 1 crc 1 )"},
  };
  for (const auto& lines : cases) EXPECT_FALSE(ReadTextGame(lines).has_value()) << lines.back();
}

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
    other.insert(other.end(), l.begin(), l.end());
    return Status::Ok();
  }
  Status Commit() override { return Status::Ok(); }
  std::optional<DatHeader> header;
  std::vector<DatGame> games;
  std::vector<std::string> other;
};

TEST(DatWriterTest, ReadingATextDatWritesItBackUnchanged) {
  test::TempDir dir;
  const std::string dat =
      "clrmamepro (\r\n\tname nes\r\n\tDescription \"Nintendo NES\"\r\n\tauthor \"a\"\r\n)\r\n\r\n"
      "game (\r\n\tname Alpha\r\n\tdescription \"Alpha\"\r\n"
      "\trom ( name Alpha size 3 crc 352441C2 )\r\n)\r\n\r\n"
      "game (\r\n\tname \"Two Roms\"\r\n\tdescription \"Two Roms\"\r\n"
      "\trom ( name a size 1 crc 1 )\r\n\trom ( name b size 2 crc 2 )\r\n)\r\n\r\n"
      "game (\r\n\tname odd\r\n)\r\n\r\n";
  WriteFile(dir / "in.dat", dat);
  Collected c;
  ASSERT_TRUE(ReadTextDat(dir / "in.dat", c).ok());
  ASSERT_TRUE(c.header.has_value());
  EXPECT_EQ(c.header->name, "nes");
  EXPECT_EQ(c.header->description, "Nintendo NES");
  ASSERT_EQ(c.games.size(), 2u);
  EXPECT_EQ(c.games[1].roms.size(), 2u);
  EXPECT_EQ(c.games[1].roms[1].crc, 2u);
  EXPECT_EQ(c.other, (std::vector<std::string>{"game (", "\tname odd", ")", ""}));

  std::string text;
  TextDatWriter back(&text);
  ASSERT_TRUE(ReadTextDat(dir / "in.dat", back).ok());
  EXPECT_EQ(text, dat);
}

// Reads an XML dat the writer made, failing the test when it is not well-formed.
pugi::xml_document Parse(const std::string& bytes) {
  pugi::xml_document doc;
  pugi::xml_parse_result r = doc.load_buffer(bytes.data(), bytes.size());
  EXPECT_TRUE(r) << r.description() << " at " << r.offset;
  return doc;
}

TEST(XmlDatWriterTest, EveryTextSurvivesEscapingAndWhatXmlCannotHoldIsLeftOutWithAWarning) {
  struct Case {
    const char* label;
    std::string in, out;
    const char* warning;  // part of the expected warning, or "" for none
  } cases[] = {
      {"markup", "a]]>b <c> & \"d\" 'e'", "a]]>b <c> & \"d\" 'e'", ""},
      {"an entity's text stays text", "A &#0; B &amp;", "A &#0; B &amp;", ""},
      {"non-ASCII UTF-8", "Pok\xc3\xa9mon \xe3\x83\x9d \xf0\x9f\x8e\xae",
       "Pok\xc3\xa9mon \xe3\x83\x9d \xf0\x9f\x8e\xae", ""},
      {"Latin-1 bytes", "Caf\xe9 \xff", "Caf\xc3\xa9 \xc3\xbf", "Latin-1"},
      {"a cut UTF-8 sequence", "x\xc3", "x\xc3\x83", "Latin-1"},
      {"an encoded surrogate", "\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80", "Latin-1"},
      {"control characters", std::string("a\001b\0c\037\r\n", 8) + "\td", "abc\td",
       "control characters"},
      {"U+FFFE", "a\357\277\276b", "ab", "control characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    test::TempDir dir;
    test::RecordingReporter rep;
    auto w = XmlDatWriter::Create(dir / "out.xml", rep);
    ASSERT_TRUE(w.ok());
    const DatGame g{c.in, c.in, c.in, c.in, c.in, {{c.in, 5, 0xE7DDCE}}, {}, {}};
    ASSERT_TRUE((*w)->WriteHeader({"nes", c.in, c.in, "20260102"}).ok());
    ASSERT_TRUE((*w)->WriteGame(g).ok());
    ASSERT_TRUE((*w)->Commit().ok());
    pugi::xml_document doc = Parse(ReadFile(dir / "out.xml"));
    pugi::xml_node game = doc.child("datafile").child("game");
    EXPECT_EQ(std::string(game.attribute("name").value()), c.out);
    for (const char* e : {"comment", "description", "year", "manufacturer"}) {
      EXPECT_EQ(std::string(game.child(e).text().get()), c.out) << e;
    }
    EXPECT_EQ(std::string(game.child("rom").attribute("name").value()), c.out);
    EXPECT_EQ(std::string(game.child("rom").attribute("crc").value()), "00e7ddce");
    EXPECT_EQ(std::string(doc.child("datafile").child("header").child("author").text().get()),
              c.out);
    if (*c.warning == '\0') {
      EXPECT_TRUE(rep.warnings.empty());
    } else {
      ASSERT_EQ(rep.warnings.size(), 2u);  // the header's and the game's
      EXPECT_TRUE(test::Contains(rep.warnings[1], c.warning)) << rep.warnings[1];
      EXPECT_TRUE(test::Contains(rep.warnings[1], dir / "out.xml")) << rep.warnings[1];
    }
  }
}

TEST(XmlDatWriterTest, WritesTheFormatsDeclarationsAndCrLfLineEnds) {
  test::TempDir dir;
  test::RecordingReporter rep;
  auto w = XmlDatWriter::Create(dir / "out.xml", rep);
  ASSERT_TRUE(w.ok());
  ASSERT_TRUE((*w)->WriteHeader({"nes", "Nintendo NES", "me", ""}).ok());
  ASSERT_TRUE((*w)->WriteOtherLines({"", ""}).ok());
  ASSERT_TRUE((*w)->Commit().ok());
  const std::string bytes = ReadFile(dir / "out.xml");
  EXPECT_EQ(bytes.substr(0, 155),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!DOCTYPE datafile PUBLIC "
            "\"-//Logiqx//DTD ROM Management Datafile//EN\" "
            "\"http://www.logiqx.com/Dats/datafile.dtd\">\r\n");
  EXPECT_EQ(ReplaceAll(bytes, "\r\n", "").find_first_of("\r\n"), std::string::npos);
  EXPECT_TRUE(test::Contains(bytes, "<version>" + DatVersionOfToday() + "</version>"));
  EXPECT_EQ(DatVersionOfToday().size(), 8u);
  EXPECT_TRUE(rep.warnings.empty());  // empty lines are no loss
}

TEST(XmlDatWriterTest, LinesThatHoldNoGameAreLeftOutWithAWarning) {
  test::TempDir dir;
  test::RecordingReporter rep;
  auto w = XmlDatWriter::Create(dir / "out.xml", rep);
  ASSERT_TRUE(w.ok());
  ASSERT_TRUE((*w)->WriteOtherLines({"game (", "\tname odd", ")", ""}).ok());
  DatGame g{"a", "a", "", "", "", {{"a", 1, 1}}, {"\tcomment x"}, {}};
  ASSERT_TRUE((*w)->WriteGame(g).ok());
  ASSERT_TRUE((*w)->Commit().ok());
  ASSERT_EQ(rep.warnings.size(), 2u);
  EXPECT_TRUE(test::Contains(rep.warnings[0], "hold no game")) << rep.warnings[0];
  EXPECT_TRUE(test::Contains(rep.warnings[1], "1 lines the XML format has no place for"));
  pugi::xml_document doc = Parse(ReadFile(dir / "out.xml"));
  EXPECT_FALSE(doc.child("datafile").child("header"));  // the DTD lets it out
}

TEST(XmlDatWriterTest, NothingIsWrittenWithoutCommit) {
  test::TempDir dir;
  test::RecordingReporter rep;
  WriteFile(dir / "out.xml", "old");
  {
    auto w = XmlDatWriter::Create(dir / "out.xml", rep);
    ASSERT_TRUE(w.ok());
    ASSERT_TRUE((*w)->WriteHeader({"nes", "d", "a", "1"}).ok());
  }
  EXPECT_EQ(ReadFile(dir / "out.xml"), "old");
  EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"out.xml"});
}

}  // namespace
}  // namespace quorvin
