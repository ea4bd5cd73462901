// The command line: RunCommandLine on arbitrary text, with a whole sample setup (MESS folder,
// ROMs, artwork, front end, presets) in a sandbox folder that is rebuilt for every input.
//
// Keeping the run inside the sandbox: the process works in the sandbox (its current folder)
// and QUORVIN_HOME names the sandbox's program folder, so relative paths and the program's
// own files land there. Inputs that could name anything else are skipped: any "/" or "\"
// (no absolute path, no path into another folder) and any ".." (no way up), looked for also
// after every "-save" is taken out, so that no way of reading the words can make one.
//
// The input: a first byte that chooses Start (even) or Revert (odd), then the arguments,
// separated by NUL bytes (which no argument can hold).
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dat/crc.h"
#include "dat/dat_format.h"
#include "fuzz_util.h"
#include "platform/reporter.h"
#include "presets/preset_file.h"
#include "run/runner.h"
#include "run/startup.h"

using namespace quorvin;

namespace {

std::string& Sandbox() {
  static std::string path;
  return path;
}

void BuildSandbox() {
  const std::string& box = Sandbox();
  fuzz::RemoveTree(box);
  fuzz::MakeDirs(box + "/home/presets");
  fuzz::MakeDirs(box + "/home/conversions");
  fuzz::MakeDirs(box + "/mess/crc");
  fuzz::MakeDirs(box + "/roms");
  fuzz::MakeDirs(box + "/art");
  fuzz::MakeDirs(box + "/dk/cfgs");
  fuzz::MakeDirs(box + "/dk/list generator/dats");
  const std::string roms[] = {"first rom", "second rom", "third rom"};
  const char* names[] = {"a.nes", "b game.nes", "c.nes"};
  std::string crc = "[nes]\r\n";
  for (int i = 0; i < 3; ++i) {
    fuzz::WriteFile(box + "/roms/" + names[i], roms[i]);
    if (i < 2) {
      crc += CrcText(Crc32(roms[i])) + "=Good Name " + std::to_string(i) + " | 198" +
             std::to_string(i) + " | Maker | good\r\n";
    }
  }
  fuzz::WriteFile(box + "/mess/crc/nes.crc", crc);
  fuzz::WriteFile(box + "/art/a.png", "png");
  fuzz::WriteFile(box + "/art/b game.png", "png");
  fuzz::WriteFile(box + "/dk/dirs.ini", "[Dirs]\r\nroms=\r\n[/startvd]\r\n");
  fuzz::WriteFile(box + "/dk/cfgs/template.cfg", "[Config]\r\nextension=\r\n");
  RunSettings s;
  s.txtMessPath = "mess/";
  s.txtRom = "roms";
  s.txtExtension = ".nes";
  s.cmbHName.text = "nes";
  s.txtDesc = "Nintendo";
  s.chkCvtRoms = 1;
  s.txtRenamePaths = "art";
  s.txtOutput = "out.dat";
  s.txtDkPath = "dk";
  fuzz::WriteFile(box + "/home/presets/nes.pre", FormatPreset(s));
}

bool Outside(std::string text) {
  for (size_t at; (at = text.find("-save")) != std::string::npos;) text.erase(at, 5);
  return text.find_first_of("/\\") != std::string::npos || text.find("..") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Sandbox() = fuzz::FreshSandbox("cli");
  if (::chdir(Sandbox().c_str()) != 0) fuzz::Fail(__FILE__, __LINE__, "chdir", Sandbox());
  ::setenv("QUORVIN_HOME", (Sandbox() + "/home").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool revert = (data[0] & 1) != 0;
  const std::string line(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (Outside(line)) return 0;
  std::vector<std::string> args(1);
  for (char c : line) {
    if (c == '\0') {
      args.emplace_back();
    } else {
      args.back().push_back(c);
    }
  }
  BuildSandbox();
  NullReporter reporter;
  Runner runner(Sandbox() + "/home", reporter);
  Status s = RunCommandLine(runner, args, revert);
  (void)ExitStatusOf(s, runner.warnings());
  return 0;
}
