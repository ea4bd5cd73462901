#include "frontend/dk_setup.h"

#include <gtest/gtest.h>

#include <utility>

#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

const std::string kTemplate = "[Config]\r\nexe=mess.exe\r\nextension=\r\n[Display]\r\nfull=1\r\n";

class DkSetupTest : public ::testing::Test {
 protected:
  DkSetupTest() {
    test::MakeDir(dir / "dk/cfgs");
    test::MakeDir(dir / "dk/list generator/dats");
    WriteFile(dir / "dk/cfgs/template.cfg", kTemplate);
    WriteFile(dir / "out.dat", "the dat");
    s.txtDkPath = dir / "dk";
    s.cmbHName.text = "nes";
    s.txtExtension = ".nes";
    s.txtRom = "/roms/nes";
    s.txtRenamePaths = "/art/nes";
    s.txtDesc = "Nintendo NES";
    s.txtOutput = dir / "out.dat";
  }
  void Only(int* check) {
    for (int* c : {&s.chkMakeCfg, &s.chkRomAdd, &s.chkArtwork, &s.chkVdirAdd, &s.chkDatAdd})
      *c = c == check ? 1 : 0;
  }
  // Runs the setup and gives the warnings it gave, each without the "Dragon King Setup: "
  // before it.
  Names Setup(const std::string* text_dat = nullptr) {
    SetupDk(s, rep, text_dat);
    Names warnings;
    for (const std::string& w : std::exchange(rep.warnings, {})) {
      EXPECT_TRUE(w.starts_with("Dragon King Setup: ")) << w;
      warnings.push_back(w.substr(19));
    }
    return warnings;
  }
  test::TempDir dir;
  test::RecordingReporter rep;
  RunSettings s;
};

TEST_F(DkSetupTest, EntryNeedsAnExistingFolderAndAddsItsSeparator) {
  s.txtDkPath = dir / "nowhere";
  EXPECT_EQ(Setup(), Names{"The Dragon King folder " + dir / "nowhere" +
                           " is not an existing folder, so the front end was not set up"});
  EXPECT_EQ(s.txtDkPath, dir / "nowhere");
  EXPECT_FALSE(test::Exists(dir / "nowhere"));
  EXPECT_TRUE(rep.statuses.empty());
  Only(nullptr);  // no step asked for: nothing to say
  EXPECT_EQ(Setup(), Names{});
  s.chkMakeCfg = s.chkRomAdd = s.chkArtwork = s.chkVdirAdd = s.chkDatAdd = 1;
  s.txtDkPath = dir / "dk";
  // The path steps make a dirs.ini of their own, which has no marker for the virtual directory.
  EXPECT_EQ(Setup(), Names{"The file " + dir / "dk/dirs.ini" +
                           " has no \"[/startvd]\" line, so no virtual directory was added"});
  EXPECT_EQ(s.txtDkPath, dir / "dk/");
  EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"),
            "[Dirs]\r\nroms=;/ROMS/NES\r\nAdditional AW Dirs=;/ART/NES\r\n");
  EXPECT_EQ(rep.statuses, (Names{"Status:  Making Dk Cfg Entry", "Status:  Adding Dk Vdir Entry",
                                 "Status:  Copying Dat to Dk List Generator"}));
}

TEST_F(DkSetupTest, ConfigFileStep) {
  Only(&s.chkMakeCfg);
  EXPECT_EQ(Setup(), Names{});
  EXPECT_EQ(ReadFile(dir / "dk/cfgs/nes.cfg"),
            "[Config]\r\nexe=mess.exe\r\nextension=.nes\r\n[Display]\r\nfull=1\r\n");
  EXPECT_EQ(ReadFile(dir / "dk/cfgs/template.cfg"), kTemplate);

  // An existing file keeps everything but the one key; the template is not copied over it.
  WriteFile(dir / "dk/cfgs/SNES.cfg", "[Other]\nk=v\n[config]\nEXTENSION=.old\nmore=1\n");
  s.cmbHName.text = "SNES";
  s.txtExtension = ".smc";
  EXPECT_EQ(Setup(), Names{});
  EXPECT_EQ(ReadFile(dir / "dk/cfgs/SNES.cfg"), "[Other]\nk=v\n[config]\nextension=.smc\nmore=1\n");
  WriteFile(dir / "dk/cfgs/gb.cfg", "[Other]\r\nk=v\r\n");
  s.cmbHName.text = "gb";
  EXPECT_EQ(Setup(), Names{});
  EXPECT_EQ(ReadFile(dir / "dk/cfgs/gb.cfg"), "[Other]\r\nk=v\r\n[Config]\r\nextension=.smc\r\n");
}

TEST_F(DkSetupTest, ConfigFileStepReportsWhatIsMissingAndGoesOn) {
  s.chkRomAdd = s.chkArtwork = s.chkVdirAdd = 0;
  ::remove((dir / "dk/cfgs/template.cfg").c_str());
  EXPECT_EQ(Setup(), Names{"The template " + dir / "dk/cfgs/template.cfg" +
                           " does not exist, so no config file was made"});
  EXPECT_EQ(ReadFile(dir / "dk/list generator/dats/nes.dat"), "the dat");  // later steps ran

  WriteFile(dir / "dk/cfgs/Template.CFG", std::string("MZ\0\0binary", 10));
  EXPECT_EQ(Setup(), Names{"The template " + dir / "dk/cfgs/Template.CFG" +
                           " is not a text file, so no config file was made"});
  EXPECT_FALSE(test::Exists(dir / "dk/cfgs/nes.cfg"));

  test::TempDir bare;
  s.txtDkPath = bare.path();
  EXPECT_EQ(Setup(),
            (Names{"The folder " + bare / "cfgs" + " does not exist, so no config file was made",
                   "The folder " + bare / "list generator/dats" +
                       " does not exist, so the dat was not copied to the list generator"}));
  EXPECT_TRUE(test::FolderEntries(bare.path()).empty());  // no folders invented
}

TEST(PathListTest, MergesAsTheFrontEndExpects) {
  struct Case {
    const char* stored;
    const char* folders;
    const char* merged;
  } cases[] = {
      {"C:\\Roms\\Nes", "c:\\roms\\nes;D:\\More", "C:\\ROMS\\NES;D:\\MORE"},
      {"", "D:\\Nes", ";D:\\NES"},
      {"C:\\ROMS\\NES2", "C:\\Roms\\Nes", "C:\\ROMS\\NES2"},
      {"C:\\A", "C:\\B;", "C:\\A;C:\\B"},
      {"c:\\art", "", "C:\\ART"},
      {"", ";;", ""},
      // Blanks around an element go: the stored value reads back without them.
      {"", "/roms/nes ", ";/ROMS/NES"},
      {";/ROMS/NES", " /roms/nes ;", ";/ROMS/NES"},
      {"", " ", ""},
      {"", "  ; a b ", ";A B"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MergePathList(c.stored, c.folders), c.merged) << c.stored << " + " << c.folders;
}

// Each path step adds what its key lacks and leaves the rest of the file alone; a second run
// with the same settings rewrites nothing.
TEST_F(DkSetupTest, PathStepsWriteOnlyTheirKeysAndNeverShortenThem) {
  Only(&s.chkRomAdd);
  s.chkArtwork = 1;
  const std::string longlist(12000, 'X');
  struct Case {
    std::string rom, art, before, after;
  } cases[] = {
      {"/roms/nes", "/art/nes", "[Dirs]\nroms=" + longlist + "\nother=keep\n[/startvd]\n",
       "[Dirs]\nroms=" + longlist +
           ";/ROMS/NES\nother=keep\nAdditional AW Dirs=;/ART/NES\r\n[/startvd]\n"},
      // Blanks around a folder go, and a blank folder list still gets its key.
      {"/roms/nes ", " ", "[Dirs]\r\n[/startvd]\r\n",
       "[Dirs]\r\nroms=;/ROMS/NES\r\nAdditional AW Dirs=\r\n[/startvd]\r\n"},
  };
  for (const Case& c : cases) {
    s.txtRom = c.rom;
    s.txtRenamePaths = c.art;
    WriteFile(dir / "dk/dirs.ini", c.before);
    for (int run = 1; run <= 2; ++run) {
      EXPECT_EQ(Setup(), Names{}) << "run " << run;
      EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"), c.after) << "run " << run;
    }
  }
  test::MakeReadOnly(dir / "dk/dirs.ini");
  s.txtRom = "/more";
  EXPECT_EQ(Setup(), Names{"The file " + dir / "dk/dirs.ini" +
                           " is read-only; the folders were not added to it"});
  EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"), cases[1].after);
}

// The block goes before the first marker line unless a search-string line before it, or the
// marker line itself, names the whole system (letter case aside); a second run adds nothing.
TEST(VirtualDirectoryTest, AddsTheBlockBeforeTheMarkerUnlessTheSystemHasOne) {
  auto block = [](const std::string& system) {
    return "[Path]\r\nlogo=Nintendo NES.png\r\ncaption=Nintendo NES\r\nuseclones=1\r\n"
           "searchstrings:5=" +
           system + "\r\nfilters:\r\n[/path]\r\n";
  };
  auto check = [](const std::string& system, const std::string& before, const std::string& after) {
    SCOPED_TRACE(before.substr(0, 40));
    bool no_marker = true;
    const std::string out = AddVirtualDirectory(before, system, "Nintendo NES", &no_marker);
    EXPECT_EQ(out, after);
    EXPECT_FALSE(no_marker);
    EXPECT_EQ(AddVirtualDirectory(out, system, "Nintendo NES", &no_marker), out);
  };
  // For nes, one line before the marker.
  struct Line {
    const char* line;
    bool present;
  } lines[] = {
      {"searchstrings:5=nesx", false},        {"searchstrings:5=nes_pal", false},
      {"searchstrings:5=nesx,5=nesj", false}, {"caption=5=NES", false},
      {"searchstrings:5=nes", true},          {"searchstrings:5=NES", true},
      {"searchstrings:5=Nes ", true},         {"searchstrings:5=nes;snes", true},
      {"searchstrings:5=snes;5=nes", true},   {"searchstrings:5=nesx;5=nes|a", true},
  };
  for (const Line& l : lines) {
    const std::string before = l.line + std::string("\r\n[/startvd]\r\n");
    check("nes", before, l.present ? before : l.line + ("\r\n" + block("nes")) + "[/startvd]\r\n");
  }
  const std::string long_search =
      "searchstrings:" + std::string(12000, 'y') + "5=NESJ;5=nes\r\n[/startvd]\r\n";
  check("NES", long_search, long_search);
  check("NES", "[/startvd]5=nes\r\n", "[/startvd]5=nes\r\n");
  check("NES", "[/startvd]\r\nsearchstrings:5=x\r\n",
        block("NES") + "[/startvd]\r\nsearchstrings:5=x\r\n");
  // The worked example; then leading empty lines go, the lines before the marker end in
  // CR LF, and the marker and the lines after it stay byte for byte.
  check("nes", "[Dirs]\r\nroms=X\r\n\r\n[/startvd]\r\n",
        "[Dirs]\r\nroms=X\r\n\r\n" + block("nes") + "[/startvd]\r\n");
  check("nes", "\r\n\n[Dirs]\n[/startvd]", "[Dirs]\r\n" + block("nes") + "[/startvd]");
  check("nes", "a\n[/startvd] tail\nafter\r\n[/startvd]\nend",
        "a\r\n" + block("nes") + "[/startvd] tail\nafter\r\n[/startvd]\nend");
  check("nes", "a\r\nb\nc\r\n[/startvd]\n", "a\r\nb\r\nc\r\n" + block("nes") + "[/startvd]\n");
  bool no_marker = false;
  EXPECT_EQ(AddVirtualDirectory("[Dirs]\r\n", "nes", "d", &no_marker), "[Dirs]\r\n");
  EXPECT_TRUE(no_marker);
}

TEST_F(DkSetupTest, VirtualDirectoryStepReportsAFileItCannotUseOrALineBreak) {
  Only(&s.chkVdirAdd);
  EXPECT_EQ(Setup(), Names{"The file " + dir / "dk/dirs.ini" +
                           " does not exist, so no virtual directory was added"});
  EXPECT_FALSE(test::Exists(dir / "dk/dirs.ini"));
  // A file without a marker: see EntryNeedsAnExistingFolderAndAddsItsSeparator. The name is
  // matched without regard to letter case.
  WriteFile(dir / "dk/DIRS.INI", "[/startvd]\r\n");
  s.txtDesc = "two\nlines";
  EXPECT_EQ(Setup(), Names{"The system name or the description holds a line break, so no "
                           "virtual directory was added to " +
                           dir / "dk/DIRS.INI"});
  EXPECT_EQ(ReadFile(dir / "dk/DIRS.INI"), "[/startvd]\r\n");
}

// Only the clrmamepro text reaches the list generator: a text dat is copied over the old one,
// an XML dat only in its text form.
TEST_F(DkSetupTest, ListGeneratorGetsTheTextDatAndNeverTheXml) {
  Only(&s.chkDatAdd);
  const std::string copy = dir / "dk/list generator/dats/nes.dat";
  WriteFile(copy, "old");
  WriteFile(dir / "out.XML", "<?xml version=\"1.0\"?><datafile/>");
  s.txtOutput = dir / "out.XML";
  EXPECT_EQ(Setup(), Names{"The dat " + dir / "out.XML" +
                           " is an XML dat and the list generator reads only clrmamepro text "
                           "dats, so it was not copied to the list generator"});
  EXPECT_EQ(ReadFile(copy), "old");
  const std::string text = "clrmamepro (\r\n\tname nes\r\n)\r\n\r\n";
  EXPECT_EQ(Setup(&text), Names{});
  EXPECT_EQ(ReadFile(copy), text);
  s.txtOutput = dir / "out.dat";
  EXPECT_EQ(Setup(), Names{});
  EXPECT_EQ(ReadFile(copy), "the dat");
  s.txtOutput = dir / "missing.dat";
  EXPECT_EQ(Setup(), Names{"The file " + dir / "missing.dat" +
                           " does not exist; the dat was not copied to the list generator"});
  s.cmbHName.text = "a/b";
  s.txtOutput = dir / "out.dat";
  EXPECT_EQ(Setup(), Names{"The system name \"a/b\" cannot name a file, so the copy for the list "
                           "generator was skipped"});
}

}  // namespace
}  // namespace quorvin
