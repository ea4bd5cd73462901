#include "presets/preset_file.h"

#include <optional>

#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/text.h"

namespace quorvin {

namespace {

std::string CheckLine(int value) { return " " + std::to_string(value) + " "; }

std::string Capitalized(std::string_view s) {
  std::string out(s);
  if (!out.empty()) out[0] = ToUpperAscii(out[0]);
  return out;
}

}  // namespace

std::optional<int> ParseCheck(std::string_view line) {
  std::string_view t = TrimBlanks(line);
  if (t.size() != 1 || t[0] < '0' || t[0] > '2') return std::nullopt;
  return t[0] - '0';
}

Status CheckPresetName(std::string_view name) {
  if (TrimBlanks(name).empty())
    return Status::InvalidInput("A preset needs a name; the name is empty");
  if (!IsPlainFileName(name)) {
    return Status::InvalidInput("The preset name \"" + ForMessage(name) +
                                "\" cannot be a file name (it holds a path separator)");
  }
  return Status::Ok();
}

std::string PresetPath(const std::string& presets_folder, std::string_view name) {
  return JoinPath(presets_folder, std::string(name) + ".pre");
}

std::string FormatPreset(const RunSettings& s) {
  const std::string lines[kSettingCount] = {s.txtMessPath,
                                            s.txtRom,
                                            s.txtExtension,
                                            SystemName(s),
                                            s.txtDesc,
                                            s.txtAuthor,
                                            CheckLine(s.chkCvtRoms),
                                            s.txtRenamePaths,
                                            s.txtOutput,
                                            s.txtDkPath,
                                            CheckLine(s.chkMakeCfg),
                                            CheckLine(s.chkRomAdd),
                                            CheckLine(s.chkArtwork),
                                            CheckLine(s.chkVdirAdd),
                                            CheckLine(s.chkDatAdd)};
  std::string out;
  for (const std::string& line : lines) {
    out.append(line);
    out.append(kCrLf);
  }
  // Added after the fifteen lines, which earlier versions read and then stop.
  out.append(CheckLine(s.chkVerify));
  out.append(kCrLf);
  return out;
}

Result<RunSettings> ParsePreset(std::string_view bytes, const std::string& source,
                                const RunSettings& base) {
  if (bytes.find('\0') != std::string_view::npos) {
    return Status::Corrupt(Capitalized(source) + " holds NUL bytes; it is not a preset");
  }
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size() && lines.size() < static_cast<size_t>(kPresetLineCount)) {
    size_t nl = bytes.find('\n', start);
    std::string_view line = bytes.substr(start, nl == std::string_view::npos ? nl : nl - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  if (lines.size() < static_cast<size_t>(kSettingCount)) {
    return Status::Corrupt(Capitalized(source) + " has " + std::to_string(lines.size()) +
                           " lines; a preset has " + std::to_string(kSettingCount));
  }
  int checks[kSettingCount] = {};
  for (int i : {6, 10, 11, 12, 13, 14}) {
    auto v = ParseCheck(lines[static_cast<size_t>(i)]);
    if (!v) {
      return Status::Corrupt("Line " + std::to_string(i + 1) + " of " + source +
                             " should be a check value (0 or 1) but reads \"" +
                             ForMessage(lines[static_cast<size_t>(i)]) + "\"");
    }
    checks[i] = *v;
  }
  RunSettings s = base;
  s.txtMessPath = lines[0];
  s.txtRom = lines[1];
  s.txtExtension = lines[2];
  s.cmbHName.text = lines[3];
  s.cmbHName.selected.reset();
  s.txtDesc = lines[4];
  s.txtAuthor = lines[5];
  s.chkCvtRoms = checks[6];
  s.txtRenamePaths = lines[7];
  s.txtOutput = lines[8];
  s.txtDkPath = lines[9];
  s.chkMakeCfg = checks[10];
  s.chkRomAdd = checks[11];
  s.chkArtwork = checks[12];
  s.chkVdirAdd = checks[13];
  s.chkDatAdd = checks[14];
  // A preset of an earlier version has no sixteenth line, or another text there: off.
  s.chkVerify = 0;
  if (lines.size() > static_cast<size_t>(kSettingCount)) {
    s.chkVerify = ParseCheck(lines[static_cast<size_t>(kSettingCount)]).value_or(0);
  }
  return s;
}

Status SavePresetFile(const std::string& presets_folder, std::string_view name,
                      const RunSettings& settings) {
  Status s = CheckPresetName(name);
  if (!s.ok()) return s;
  return WriteFileAtomic(PresetPath(presets_folder, name), FormatPreset(settings));
}

Result<std::vector<std::string>> ListPresets(const std::string& presets_folder) {
  auto files = ListFolder(presets_folder, "*.pre");
  if (!files.ok()) return files.status();
  std::vector<std::string> names;
  for (const std::string& f : *files) names.push_back(f.substr(0, f.size() - 4));
  return names;
}

}  // namespace quorvin
