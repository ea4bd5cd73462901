#include "inject/game_entry.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "dat/dat_format.h"
#include "inject/crc_database.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "test_util.h"

namespace quorvin {
namespace {

class GameEntryTest : public ::testing::Test {
 protected:
  // A database file holding `entries` ("crc=value" lines) in section [nes].
  const CrcDatabase& Db(const std::string& entries) {
    test::WriteFile(dir / "nes.crc", "[nes]\r\n" + entries);
    db = CrcDatabase::Load(dir / "nes.crc").value();
    return db;
  }
  static GameLines Game(const std::string& token, const std::string& crc) {
    std::string bare = token.front() == '"' ? token.substr(1, token.size() - 2) : token;
    return {"\tname " + token,
            "\tdescription \"" + bare + "\"",
            "\trom ( name " + token + " size 40976 crc " + crc + " )",
            {}};
  }
  test::TempDir dir;
  CrcDatabase db;
};

TEST_F(GameEntryTest, WorkedExample) {
  GameEntry e =
      PrintGameEntry(Game("sg1", "1A2B3C4D"),
                     Db("1a2b3c4d=Super Game: Deluxe | 1987 | Maker Co. | status good\r\n"));
  EXPECT_EQ(e.ToDat(),
            "\tname \"Super Game Deluxe\"\r\n"
            "\tdescription \"Super Game: Deluxe\"\r\n"
            "\tyear 1987\r\n"
            "\tmanufacturer \"Maker Co.\"\r\n"
            "\trom ( name \"Super Game Deluxe\" size 40976 crc 1A2B3C4D )\r\n"
            "\tdriver ( status good )\r\n");
  EXPECT_EQ(e.old_name, "sg1");
  EXPECT_EQ(e.good_name, "\"Super Game Deluxe\"");
}

TEST_F(GameEntryTest, EdgeCases) {
  struct Case {
    std::string label, token, crc, entry, dat, good_name;
  } cases[] = {
      {"not found", "sg1", "99", "1=x",
       "\tname sg1\r\n\tdescription \"sg1\"\r\n\trom ( name sg1 size 40976 crc 99 )\r\n", ""},
      {"blank year and maker", "a", "1", "1=Good|  |  |x",
       "\tname Good\r\n\tdescription \"Good\"\r\n\trom ( name Good size 40976 crc 1 )\r\n\tdriver "
       "( x )\r\n",
       "Good"},
      {"bar in the good name", "a", "1", "1=Good|Part|1990",
       "\tname Good\r\n\tdescription \"Good\"\r\n\tyear Part\r\n\tmanufacturer \"1990\"\r\n\trom ( "
       "name Good size 40976 crc 1 )\r\n",
       "Good"},
      {"quoted old name keeps a quoted description", "\"my game\"", "1", "1=New: One (U)",
       "\tname \"New One (U)\"\r\n\tdescription \"New: One (U)\"\r\n\trom ( name \"New One (U)\" "
       "size 40976 crc 1 )\r\n",
       "\"New One (U)\""},
      {"keywords stay intact", "o", "1", "1=Zed",
       "\tname Zed\r\n\tdescription \"Zed\"\r\n\trom ( name Zed size 40976 crc 1 )\r\n", "Zed"},
      {"a game named name", "name", "1", "1=Zed",
       "\tname Zed\r\n\tdescription \"Zed\"\r\n\trom ( name Zed size 40976 crc 1 )\r\n", "Zed"},
      {"a game named rom", "rom", "1", "1=Zed",
       "\tname Zed\r\n\tdescription \"Zed\"\r\n\trom ( name Zed size 40976 crc 1 )\r\n", "Zed"},
      {"empty good name keeps the name", "keep", "1", "1=|1999|Maker|",
       "\tname keep\r\n\tdescription \"keep\"\r\n\tyear 1999\r\n\tmanufacturer \"Maker\"\r\n\trom "
       "( name keep size 40976 crc 1 )\r\n",
       ""},
      {"leading zeros", "z", "E7DDCE", "00e7ddce=Padded",
       "\tname Padded\r\n\tdescription \"Padded\"\r\n\trom ( name Padded size 40976 crc E7DDCE "
       ")\r\n",
       "Padded"},
      {"cleaned characters", "c", "1", "1=A/B\\\\C?D*E",
       "\tname ABCDE\r\n\tdescription \"A/B\\\\C?D*E\"\r\n\trom ( name ABCDE size 40976 crc 1 "
       ")\r\n",
       "ABCDE"},
      // The file is renamed without the quotes; the dat names it as it is then called, and
      // the description drops them too (inside its quotes they would end it early).
      {"double quotes in the good name", "v", "1", "1=Back The City \"IO\" (Jpn)",
       "\tname \"Back The City IO (Jpn)\"\r\n\tdescription \"Back The City IO (Jpn)\"\r\n"
       "\trom ( name \"Back The City IO (Jpn)\" size 40976 crc 1 )\r\n",
       "\"Back The City IO (Jpn)\""},
      {"nothing but quotes", "q", "1", "1=\"\"",
       "\tname q\r\n\tdescription \"q\"\r\n\trom ( name q size 40976 crc 1 )\r\n", ""},
  };
  for (const Case& c : cases) {
    GameEntry e = PrintGameEntry(Game(c.token, c.crc), Db(c.entry + "\r\n"));
    EXPECT_EQ(e.ToDat(), c.dat) << c.label;
    EXPECT_EQ(e.good_name, c.good_name) << c.label;
  }
}

// A database that is not an old CRC file (a software list): values as given.
class ListValues : public GoodNameLookup {
 public:
  explicit ListValues(std::string value) : value_(std::move(value)) {}
  std::string_view LookupCrcInfo(std::string_view) const override { return value_; }

 private:
  std::string value_;
};

// Every value goes into the dat dat-safe: quoted when it holds a blank, a parenthesis or a
// quote, its own double quotes and control characters dropped; a software list's good name
// with a parenthesis is quoted even without a blank.
TEST_F(GameEntryTest, ListValuesAreWrittenDatSafe) {
  struct Case {
    std::string label, value, dat;
  } cases[] = {
      {"quotes everywhere", "The \"Best\" Game|1990 (proto)|Pub \"X\"|Good ROM",
       "\tname \"The Best Game\"\r\n\tdescription \"The Best Game\"\r\n\tyear \"1990 (proto)\"\r\n"
       "\tmanufacturer \"Pub X\"\r\n\trom ( name \"The Best Game\" size 40976 crc 1 )\r\n"
       "\tdriver ( Good ROM )\r\n"},
      {"parenthesis without a blank", "Game(Proto)|19\"90|\"|Bad (x)",
       "\tname \"Game(Proto)\"\r\n\tdescription \"Game(Proto)\"\r\n\tyear \"1990\"\r\n"
       "\tmanufacturer \"\"\r\n\trom ( name \"Game(Proto)\" size 40976 crc 1 )\r\n"
       "\tdriver ( \"Bad (x)\" )\r\n"},
      {"control characters", std::string("Nul\0Cut\x01|1991\t|M\x7f|", 19),
       "\tname NulCut\r\n\tdescription \"NulCut\"\r\n\tyear 1991\r\n\tmanufacturer \"M\"\r\n"
       "\trom ( name NulCut size 40976 crc 1 )\r\n"},
  };
  for (const Case& c : cases) {
    GameEntry e = PrintGameEntry(Game("g", "1"), ListValues(c.value));
    EXPECT_EQ(e.ToDat(), c.dat) << c.label;
  }
}

// The old CRC files give today's dat byte for byte: every entry of the real databases makes
// the lines the rules before dat-safe texts made (names quoted only for a blank, the year as
// it stands), since none of their values holds what those rules got wrong.
TEST_F(GameEntryTest, RealCrcDatabasesGiveTheirDatLinesUnchanged) {
  if (test::TestDataDir().empty()) GTEST_SKIP() << "shared test data not found";
  size_t checked = 0;
  for (const char* system : {"nes", "a2600", "gameboy", "coleco"}) {
    const std::string path = test::TestDataDir() + "/mess/crc/" + system + ".crc";
    auto loaded = CrcDatabase::Load(path);
    ASSERT_TRUE(loaded.ok()) << path;
    for (const std::string& line : Split(test::ReadFile(path), '\n')) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos || line.starts_with("#") || line.starts_with("[")) continue;
      const std::string key(TrimBlanks(line.substr(0, eq)));
      uint32_t crc = 0;
      if (key.empty() || key.size() > 8 ||
          key.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        continue;
      }
      crc = static_cast<uint32_t>(std::stoul(key, nullptr, 16));
      const std::string value = RemoveControlChars(loaded->LookupCrcInfo(CrcText(crc)));
      std::vector<std::string> f = Split(value, '|');
      f.resize(std::max<size_t>(f.size(), 4));
      for (std::string& x : f) x = std::string(TrimBlanks(x));
      const std::string cleaned = RemoveChars(f[0], ":\\/?*\"");
      if (TrimBlanks(cleaned).empty()) continue;
      const std::string token = QuoteIfBlank(cleaned);
      std::string expected = "\tname " + token + "\r\n\tdescription \"" + f[0] + "\"\r\n";
      if (!f[1].empty()) expected += "\tyear " + f[1] + "\r\n";
      if (!f[2].empty()) expected += "\tmanufacturer \"" + f[2] + "\"\r\n";
      expected += "\trom ( name " + token + " size 40976 crc " + CrcText(crc) + " )\r\n";
      if (!f[3].empty()) expected += "\tdriver ( " + f[3] + " )\r\n";
      ASSERT_EQ(PrintGameEntry(Game("g", CrcText(crc)), *loaded).ToDat(), expected)
          << path << ": " << line;
      ++checked;
    }
  }
  EXPECT_GT(checked, 16000u);
}

TEST_F(GameEntryTest, RomLineWithAnotherTokenStaysAsItIs) {
  GameLines g{"\tname \" Odd \"", "\tdescription \" Odd \"", "\trom ( name Odd size 3 crc 1 )", {}};
  GameEntry e = PrintGameEntry(g, Db("1=Even\r\n"));
  EXPECT_EQ(e.lines.name_line, "\tname Even");
  EXPECT_EQ(e.lines.rom_line, "\trom ( name Odd size 3 crc 1 )");
}

TEST(CrcTextTest, ReadsBetweenCrcAndTheClose) {
  EXPECT_EQ(CrcTextOf("\trom ( name a size 1 crc E7DDCE )"), "E7DDCE");
  EXPECT_EQ(CrcTextOf("\trom ( name a size 1 crc  )"), "");
  EXPECT_EQ(CrcTextOf("\trom ( name a size 1 )"), "");
  EXPECT_EQ(CrcTextOf(" crc )"), "");
  // Names that hold " crc " themselves.
  EXPECT_EQ(CrcTextOf("\trom ( name crc size 3 crc 352441C2 )"), "352441C2");
  EXPECT_EQ(CrcTextOf("\trom ( name \"my crc game\" size 3 crc 1A )"), "1A");
  EXPECT_EQ(CrcTextOf("\trom ( name \"a crc  crc \" size 3 crc 1A )"), "1A");
}

TEST(SizeTest, ReadsTheNumberBeforeTheLastCrc) {
  struct Case {
    std::string line;
    std::optional<uint64_t> size;
  } cases[] = {
      {"\trom ( name a size 40976 crc E7DDCE )", 40976},
      {"\trom ( name \"a size 9 crc\" size 12 crc 1A )", 12},
      {"\trom ( name a size 99999999999 crc 1A )", 99999999999ull},
      {"\trom ( name a size  crc 1A )", std::nullopt},
      {"\trom ( name a size -1 crc 1A )", std::nullopt},
      {"\trom ( name a size 12x crc 1A )", std::nullopt},
      {"\trom ( name a size 99999999999999999999999 crc 1A )", std::nullopt},
      {"\trom ( name a crc 1A )", std::nullopt},
      {"\trom ( name a size 12 )", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(SizeOf(c.line), c.size) << c.line;
}

// A database whose every ROM fits two entries.
class TwoFit : public GoodNameLookup {
 public:
  std::string_view LookupCrcInfo(std::string_view) const override { return "One|1990"; }
  Match LookupRom(std::string_view crc, std::optional<uint64_t> size) const override {
    seen_size = size;
    (void)crc;
    return Match{{}, {"One|1990", "Two: the sequel|1991"}};
  }
  mutable std::optional<uint64_t> seen_size;
};

TEST(GameEntryAmbiguityTest, AGameThatFitsTwoEntriesKeepsItsNameAndSaysWhy) {
  TwoFit db;
  const GameLines game{"\tname sg1", "\tdescription \"sg1\"",
                       "\trom ( name sg1 size 40976 crc 1A2B3C4D )", {}};
  GameEntry e = PrintGameEntry(game, db);
  EXPECT_EQ(db.seen_size, 40976u);
  EXPECT_EQ(e.lines.name_line, game.name_line);
  EXPECT_EQ(e.lines.rom_line, game.rom_line);
  EXPECT_TRUE(e.good_name.empty());
  EXPECT_TRUE(e.year_line.empty());
  EXPECT_EQ(e.problem,
            "The data of \"sg1\" after its header (or in another byte order) fits 2 entries of "
            "the database (\"One\", \"Two: the sequel\"); the game keeps its name");
}

TEST_F(GameEntryTest, NameHoldingCrcStillFindsItsGame) {
  GameEntry e = PrintGameEntry(Game("\"my crc game\"", "352441C2"), Db("352441C2=Found\r\n"));
  EXPECT_EQ(e.lines.name_line, "\tname Found");
  EXPECT_EQ(e.lines.rom_line, "\trom ( name Found size 40976 crc 352441C2 )");
}

}  // namespace
}  // namespace quorvin
