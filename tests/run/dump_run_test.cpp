// Whole runs of quorvin-cli over dumps that carry a header or another byte order, against
// software lists written by the test.
#include <gtest/gtest.h>

#include <cstdio>

#include "dat/crc.h"
#include "dat/dat_format.h"
#include "dumps.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::Contains;
using test::DumpKind;
using test::FolderEntries;
using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

struct Listed {
  std::string description;
  uint64_t size;
  uint32_t crc;
};

std::string ListOf(const std::vector<Listed>& softwares) {
  std::string xml = "<?xml version=\"1.0\"?>\n<softwarelist name=\"t\">\n";
  for (const Listed& l : softwares) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", l.crc);
    xml += "<software name=\"s\"><description>" + l.description +
           "</description><year>1991</year><publisher>Maker</publisher><part name=\"cart\">"
           "<dataarea name=\"rom\"><rom name=\"r\" size=\"" +
           std::to_string(l.size) + "\" crc=\"" + crc + "\"/></dataarea></part></software>\n";
  }
  return xml + "</softwarelist>\n";
}

class DumpRunTest : public ::testing::Test {
 protected:
  DumpRunTest() {
    test::MakeProgramFolder(dir / "home");
    test::MakeDir(dir / "mess/hash");
  }
  // Runs quorvin-cli on the ROM folder dir/<system> with ROM renaming on (or its revert);
  // returns the exit status.
  int Cli(const std::string& system, const std::string& extension, bool revert = false) {
    const std::string list = dir / "mess" + "|" + dir / system + "|" + extension + "|" + system +
                             "|||1||" + dir / (system + ".dat") + "||0|0|0|0|0";
    return test::RunCommand(test::WithEnvironment("QUORVIN_HOME", dir / "home") +
                                test::ShellQuote(QUORVIN_CLI) + (revert ? " --revert " : " ") +
                                test::ShellQuote(list),
                            &output);
  }
  test::TempDir dir;
  std::string output;
};

TEST_F(DumpRunTest, EveryKindOfDumpGetsItsGoodNameIsRenamedAndReverted) {
  uint32_t crc = 0x0BADF00D;
  for (const DumpKind& kind : test::EveryDumpKind()) {
    SCOPED_TRACE(kind.name);
    const std::string good = "Good " + kind.name + " Game (World)";
    WriteFile(dir / ("mess/hash/" + kind.name + ".xml"), ListOf({{good, kind.data_size, ++crc}}));
    test::MakeDir(dir / kind.name);
    const std::string dump = test::DumpOf(kind, test::CartridgeData(kind, crc));
    // The listed CRC, but data of another size: another rom.
    const std::string longer =
        test::DumpOf(kind, test::CartridgeData(kind, crc, 'l', kind.data_size + 8192));
    // The kind's header (or order), other data: no entry has it.
    const std::string unknown = test::DumpOf(kind, test::CartridgeData(kind, crc + 1000, 'u'));
    WriteFile(dir / (kind.name + "/dump" + kind.extension), dump);
    WriteFile(dir / (kind.name + "/longer" + kind.extension), longer);
    WriteFile(dir / (kind.name + "/unknown" + kind.extension), unknown);

    ASSERT_EQ(Cli(kind.name, kind.extension), 0) << output;
    EXPECT_TRUE(Contains(output, "Status:  Using software list")) << output;
    const std::string dat = ReadFile(dir / (kind.name + ".dat"));
    // The dat keeps what is on the disk: the whole file's size and CRC.
    EXPECT_TRUE(
        Contains(dat, "\tname \"" + good + "\"\r\n\tdescription \"" + good +
                          "\"\r\n\tyear 1991\r\n\tmanufacturer \"Maker\"\r\n\trom ( name \"" +
                          good + "\" size " + std::to_string(dump.size()) + " crc " +
                          CrcText(Crc32(dump)) + " )\r\n\tdriver ( Good ROM )\r\n"))
        << dat;
    EXPECT_TRUE(Contains(dat, "\tname longer\r\n")) << dat;
    EXPECT_TRUE(Contains(dat, "\tname unknown\r\n")) << dat;
    // Renamed with its own extension and its bytes as they were.
    EXPECT_EQ(
        FolderEntries(dir / kind.name),
        (Names{good + kind.extension, "longer" + kind.extension, "unknown" + kind.extension}));
    EXPECT_EQ(ReadFile(dir / (kind.name + "/" + good + kind.extension)), dump);

    ASSERT_EQ(Cli(kind.name, kind.extension, true), 0) << output;
    EXPECT_EQ(
        FolderEntries(dir / kind.name),
        (Names{"dump" + kind.extension, "longer" + kind.extension, "unknown" + kind.extension}));
    EXPECT_EQ(ReadFile(dir / (kind.name + "/dump" + kind.extension)), dump);
  }
}

TEST_F(DumpRunTest, DataThatFitsTwoEntriesKeepsItsNameWithAWarning) {
  // A Lynx header on a file whose size also fits the PC Engine rule, and a list holding both
  // readings of it.
  const std::string file = test::Padded("LYNX", 64) + std::string(8192 + 512 - 64, 'z');
  WriteFile(dir / "mess/hash/lynx.xml",
            ListOf({{"Lynx Reading", file.size() - 64, Crc32(file.substr(64))},
                    {"PC Engine Reading", 8192, Crc32(file.substr(512))}}));
  test::MakeDir(dir / "lynx");
  WriteFile(dir / "lynx/both.lnx", file);
  // A text file that only begins like a Lynx dump keeps its name too, without a word.
  WriteFile(dir / "lynx/notes.lnx", "LYNX is the name of my cat.\n" + std::string(100, '.'));
  EXPECT_EQ(Cli("lynx", ".lnx"), 3) << output;
  EXPECT_TRUE(Contains(output,
                       "Warning: The data of \"both\" after its header (or in another "
                       "byte order) fits 2 entries of the database (\"Lynx Reading\", "
                       "\"PC Engine Reading\"); the game keeps its name"))
      << output;
  EXPECT_EQ(FolderEntries(dir / "lynx"), (Names{"both.lnx", "notes.lnx"}));
  EXPECT_TRUE(Contains(ReadFile(dir / "lynx.dat"), "\tname both\r\n"));
}

TEST_F(DumpRunTest, FilesTooShortForTheirHeaderKeepTheirNames) {
  // The listed data is empty after each header: a file that is a header alone, or less.
  WriteFile(dir / "mess/hash/short.xml", ListOf({{"Nothing", 4, Crc32("ABCD")}}));
  test::MakeDir(dir / "short");
  for (const DumpKind& kind : test::EveryDumpKind()) {
    if (kind.swap != 0) continue;
    WriteFile(dir / ("short/" + kind.name + ".rom"), kind.header);
    WriteFile(dir / ("short/" + kind.name + "cut.rom"),
              kind.header.substr(0, kind.header.size() / 2));
  }
  WriteFile(dir / "short/v64.rom", "\x37\x80\x40");
  const Names before = FolderEntries(dir / "short");
  EXPECT_EQ(Cli("short", ".rom"), 0) << output;
  EXPECT_EQ(FolderEntries(dir / "short"), before);
}

}  // namespace
}  // namespace quorvin
