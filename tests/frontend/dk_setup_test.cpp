#include "frontend/dk_setup.h"

#include <gtest/gtest.h>

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
  test::TempDir dir;
  test::RecordingReporter rep;
  RunSettings s;
};

TEST_F(DkSetupTest, EntryNeedsAnExistingFolderAndAddsItsSeparator) {
  s.txtDkPath = dir / "nowhere";
  SetupDk(s, rep);
  EXPECT_EQ(s.txtDkPath, dir / "nowhere");
  EXPECT_FALSE(test::Exists(dir / "nowhere"));
  EXPECT_TRUE(rep.statuses.empty());
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The Dragon King folder " + dir / "nowhere" +
                                " is not an existing folder, so the front end was not set up"});
  rep.warnings.clear();
  Only(nullptr);  // no step asked for: nothing to say
  SetupDk(s, rep);
  EXPECT_TRUE(rep.warnings.empty());
  s.chkMakeCfg = s.chkRomAdd = s.chkArtwork = s.chkVdirAdd = s.chkDatAdd = 1;
  s.txtDkPath = dir / "dk";
  SetupDk(s, rep);
  EXPECT_EQ(s.txtDkPath, dir / "dk/");
  // The path steps make a dirs.ini of their own, which has no marker for the virtual directory.
  EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"),
            "[Dirs]\r\nroms=;/ROMS/NES\r\nAdditional AW Dirs=;/ART/NES\r\n");
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The file " + dir / "dk/dirs.ini" +
                                " has no \"[/startvd]\" line, so no virtual directory was added"});
  EXPECT_EQ(rep.statuses, (Names{"Status:  Making Dk Cfg Entry", "Status:  Adding Dk Vdir Entry",
                                 "Status:  Copying Dat to Dk List Generator"}));
}

TEST_F(DkSetupTest, ConfigFileStep) {
  Only(&s.chkMakeCfg);
  SetupDk(s, rep);
  EXPECT_EQ(ReadFile(dir / "dk/cfgs/nes.cfg"),
            "[Config]\r\nexe=mess.exe\r\nextension=.nes\r\n[Display]\r\nfull=1\r\n");
  EXPECT_EQ(ReadFile(dir / "dk/cfgs/template.cfg"), kTemplate);

  // An existing file keeps everything but the one key; the template is not copied over it.
  WriteFile(dir / "dk/cfgs/SNES.cfg", "[Other]\nk=v\n[config]\nEXTENSION=.old\nmore=1\n");
  s.cmbHName.text = "SNES";
  s.txtExtension = ".smc";
  SetupDk(s, rep);
  EXPECT_EQ(ReadFile(dir / "dk/cfgs/SNES.cfg"), "[Other]\nk=v\n[config]\nextension=.smc\nmore=1\n");
  WriteFile(dir / "dk/cfgs/gb.cfg", "[Other]\r\nk=v\r\n");
  s.cmbHName.text = "gb";
  SetupDk(s, rep);
  EXPECT_EQ(ReadFile(dir / "dk/cfgs/gb.cfg"), "[Other]\r\nk=v\r\n[Config]\r\nextension=.smc\r\n");
  EXPECT_TRUE(rep.warnings.empty());
}

TEST_F(DkSetupTest, ConfigFileStepReportsWhatIsMissingAndGoesOn) {
  s.chkRomAdd = s.chkArtwork = s.chkVdirAdd = 0;
  ::remove((dir / "dk/cfgs/template.cfg").c_str());
  SetupDk(s, rep);
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The template " + dir / "dk/cfgs/template.cfg" +
                                " does not exist, so no config file was made"});
  EXPECT_EQ(ReadFile(dir / "dk/list generator/dats/nes.dat"), "the dat");  // later steps ran

  WriteFile(dir / "dk/cfgs/Template.CFG", std::string("MZ\0\0binary", 10));
  rep.warnings.clear();
  SetupDk(s, rep);
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The template " + dir / "dk/cfgs/Template.CFG" +
                                " is not a text file, so no config file was made"});
  EXPECT_FALSE(test::Exists(dir / "dk/cfgs/nes.cfg"));

  test::TempDir bare;
  s.txtDkPath = bare.path();
  rep.warnings.clear();
  SetupDk(s, rep);
  ASSERT_EQ(rep.warnings.size(), 2u);
  EXPECT_EQ(rep.warnings[0], "Dragon King Setup: The folder " + bare / "cfgs" +
                                 " does not exist, so no config file was made");
  EXPECT_EQ(rep.warnings[1],
            "Dragon King Setup: The folder " + bare / "list generator/dats" +
                " does not exist, so the dat was not copied to the list generator");
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

TEST_F(DkSetupTest, PathStepsWriteOnlyTheirKeysAndNeverShortenThem) {
  Only(&s.chkRomAdd);
  s.chkArtwork = 1;
  const std::string longlist(12000, 'X');
  WriteFile(dir / "dk/dirs.ini", "[Dirs]\nroms=" + longlist + "\nother=keep\n[/startvd]\n");
  SetupDk(s, rep);
  EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"), "[Dirs]\nroms=" + longlist +
                                               ";/ROMS/NES\nother=keep\n"
                                               "Additional AW Dirs=;/ART/NES\r\n[/startvd]\n");
  const std::string once = ReadFile(dir / "dk/dirs.ini");
  SetupDk(s, rep);
  EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"), once);

  test::MakeReadOnly(dir / "dk/dirs.ini");
  s.txtRom = "/more";
  rep.warnings.clear();
  SetupDk(s, rep);
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The file " + dir / "dk/dirs.ini" +
                                " is read-only; the folders were not added to it"});
  EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"), once);
}

TEST_F(DkSetupTest, SecondRunChangesNothingWhenFoldersHaveBlanksAround) {
  Only(&s.chkRomAdd);
  s.chkArtwork = 1;
  s.txtRom = "/roms/nes ";
  s.txtRenamePaths = " ";
  WriteFile(dir / "dk/dirs.ini", "[Dirs]\r\n[/startvd]\r\n");
  SetupDk(s, rep);
  const std::string once = ReadFile(dir / "dk/dirs.ini");
  EXPECT_EQ(once, "[Dirs]\r\nroms=;/ROMS/NES\r\nAdditional AW Dirs=\r\n[/startvd]\r\n");
  for (int run = 2; run <= 3; ++run) {
    SetupDk(s, rep);
    EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"), once) << "run " << run;
  }
  EXPECT_TRUE(rep.warnings.empty());
}

TEST(VirtualDirectoryTest, SearchStringMustNameTheWholeSystem) {
  struct Case {
    const char* line;
    bool present;
  } cases[] = {
      {"searchstrings:5=nesx", false},        {"searchstrings:5=nes_pal", false},
      {"searchstrings:5=nes", true},          {"searchstrings:5=NES", true},
      {"searchstrings:5=Nes ", true},         {"searchstrings:5=nes;snes", true},
      {"searchstrings:5=snes;5=nes", true},   {"searchstrings:5=nesx;5=nes|a", true},
      {"searchstrings:5=nesx,5=nesj", false},
  };
  for (const Case& c : cases) {
    const std::string ini = std::string(c.line) + "\r\n[/startvd]\r\n";
    bool no_marker = true;
    const std::string out = AddVirtualDirectory(ini, "nes", "d", &no_marker);
    EXPECT_EQ(out == ini, c.present) << c.line;
    EXPECT_FALSE(no_marker);
    // Whatever was there, the entry is there after one run and a second adds nothing.
    EXPECT_EQ(AddVirtualDirectory(out, "nes", "d", &no_marker), out) << c.line;
  }
}

TEST_F(DkSetupTest, VirtualDirectoryStepRefusesALineBreakInItsLines) {
  Only(&s.chkVdirAdd);
  WriteFile(dir / "dk/dirs.ini", "[/startvd]\r\n");
  s.txtDesc = "two\nlines";
  SetupDk(s, rep);
  EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"), "[/startvd]\r\n");
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The system name or the description holds a "
                                "line break, so no virtual directory was added to " +
                                dir / "dk/dirs.ini"});
}

TEST(VirtualDirectoryTest, AddsTheBlockBeforeTheMarker) {
  const std::string block =
      "[Path]\r\nlogo=Nintendo NES.png\r\ncaption=Nintendo "
      "NES\r\nuseclones=1\r\nsearchstrings:5=nes\r\n"
      "filters:\r\n[/path]\r\n";
  struct Case {
    std::string label, before, after;
  } cases[] = {
      {"the worked example", "[Dirs]\r\nroms=X\r\n\r\n[/startvd]\r\n",
       "[Dirs]\r\nroms=X\r\n\r\n" + block + "[/startvd]\r\n"},
      {"leading empty lines go", "\r\n\n[Dirs]\n[/startvd]", "[Dirs]\r\n" + block + "[/startvd]"},
      {"lines after the marker stay", "a\n[/startvd] tail\nafter\r\n[/startvd]\nend",
       "a\r\n" + block + "[/startvd] tail\nafter\r\n[/startvd]\nend"},
      {"mixed line ends", "a\r\nb\nc\r\n[/startvd]\n", "a\r\nb\r\nc\r\n" + block + "[/startvd]\n"},
      {"caption=5=NES is no search string", "caption=5=NES\r\n[/startvd]\r\n",
       "caption=5=NES\r\n" + block + "[/startvd]\r\n"},
  };
  for (const Case& c : cases) {
    bool no_marker = true;
    EXPECT_EQ(AddVirtualDirectory(c.before, "nes", "Nintendo NES", &no_marker), c.after) << c.label;
    EXPECT_FALSE(no_marker) << c.label;
  }
  const std::string long_search =
      "searchstrings:" + std::string(12000, 'y') + "5=NESJ;5=nes\r\n[/startvd]\r\n";
  for (const std::string& has :
       {std::string("searchstrings:5=nes\r\n[/startvd]\r\n"), long_search,
        std::string("[/startvd]5=nes\r\n"), std::string("[/startvd]\r\nsearchstrings:5=x\r\n")}) {
    bool no_marker = true;
    const bool later = has.find("5=x") != std::string::npos;
    std::string out = AddVirtualDirectory(has, "NES", "d", &no_marker);
    EXPECT_EQ(out == has, !later) << has.substr(0, 40);
  }
  bool no_marker = false;
  EXPECT_EQ(AddVirtualDirectory("[Dirs]\r\n", "nes", "d", &no_marker), "[Dirs]\r\n");
  EXPECT_TRUE(no_marker);
}

TEST_F(DkSetupTest, VirtualDirectoryStepReportsAFileItCannotUse) {
  Only(&s.chkVdirAdd);
  SetupDk(s, rep);
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The file " + dir / "dk/dirs.ini" +
                                " does not exist, so no virtual directory was added"});
  EXPECT_FALSE(test::Exists(dir / "dk/dirs.ini"));
  WriteFile(dir / "dk/DIRS.INI", "[Dirs]\r\n");
  rep.warnings.clear();
  SetupDk(s, rep);
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The file " + dir / "dk/DIRS.INI" +
                                " has no \"[/startvd]\" line, so no virtual directory was added"});
  EXPECT_EQ(ReadFile(dir / "dk/DIRS.INI"), "[Dirs]\r\n");
}

TEST_F(DkSetupTest, ListGeneratorCopyReplacesTheOldDat) {
  Only(&s.chkDatAdd);
  WriteFile(dir / "dk/list generator/dats/nes.dat", "old");
  SetupDk(s, rep);
  EXPECT_EQ(ReadFile(dir / "dk/list generator/dats/nes.dat"), "the dat");
  s.txtOutput = dir / "missing.dat";
  rep.warnings.clear();
  SetupDk(s, rep);
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The file " + dir / "missing.dat" +
                                " does not exist; the dat was not copied to the list generator"});
  s.cmbHName.text = "a/b";
  s.txtOutput = dir / "out.dat";
  rep.warnings.clear();
  SetupDk(s, rep);
  EXPECT_EQ(rep.warnings,
            Names{"Dragon King Setup: The system name \"a/b\" cannot name a file, so the copy "
                  "for the list generator was skipped"});
}

TEST_F(DkSetupTest, ListGeneratorGetsTheTextFormOfAnXmlDatAndNeverTheXml) {
  Only(&s.chkDatAdd);
  WriteFile(dir / "out.XML", "<?xml version=\"1.0\"?><datafile/>");
  WriteFile(dir / "dk/list generator/dats/nes.dat", "old");
  s.txtOutput = dir / "out.XML";
  SetupDk(s, rep);  // no text form given: the XML is not copied
  EXPECT_EQ(ReadFile(dir / "dk/list generator/dats/nes.dat"), "old");
  EXPECT_EQ(rep.warnings, Names{"Dragon King Setup: The dat " + dir / "out.XML" +
                                " is an XML dat and the list generator reads only clrmamepro "
                                "text dats, so it was not copied to the list generator"});
  rep.warnings.clear();
  const std::string text = "clrmamepro (\r\n\tname nes\r\n)\r\n\r\n";
  SetupDk(s, rep, &text);
  EXPECT_EQ(ReadFile(dir / "dk/list generator/dats/nes.dat"), text);
  EXPECT_TRUE(rep.warnings.empty());
}

}  // namespace
}  // namespace quorvin
