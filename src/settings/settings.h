#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvin {

// The hint the system box shows until a system is chosen or typed; a run refuses it.
inline constexpr std::string_view kSystemHint = "For a Non-Mess System Type it in";
inline constexpr std::string_view kDefaultAuthor = "Auto Generated With Quorvin Utility";
// Number of settings in a preset file and a command-line settings list.
inline constexpr int kSettingCount = 15;

// The system box: its text, the systems offered (from the MESS crc folder), and which of them
// the user chose, if any. Choosing an entry sets the text to it; typing leaves none chosen.
struct SystemBox {
  std::string text{kSystemHint};
  std::vector<std::string> list;
  std::optional<size_t> selected;
};

// Everything the user sets for a run, in the order presets and the command line use.
// Texts are 8-bit strings stored untrimmed; check values count as set only when they are 1.
struct RunSettings {
  std::string txtMessPath;
  std::string txtRom;
  std::string txtExtension;
  SystemBox cmbHName;
  std::string txtDesc;
  std::string txtAuthor;
  int chkCvtRoms = 0;
  std::string txtRenamePaths;
  std::string txtOutput;
  std::string txtDkPath;
  int chkMakeCfg = 1;
  int chkRomAdd = 1;
  int chkArtwork = 1;
  int chkVdirAdd = 1;
  int chkDatAdd = 1;
  // Inflate every member of zipped ROMs and compare it with its stored CRC. Kept in presets
  // after the fifteen settings above; a preset without it reads as 0.
  int chkVerify = 0;
};

// The chosen entry of the system list when there is one, otherwise the box's text.
std::string SystemName(const RunSettings& settings);

}  // namespace quorvin
