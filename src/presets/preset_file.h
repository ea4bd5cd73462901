#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "settings/settings.h"

// Preset files: one per preset, "<name>.pre" in the presets folder, fifteen plain lines in
// the settings' order, then a sixteenth, the zip check (chkVerify). Texts stand as they are;
// check values are written " 1 " / " 0 ".
namespace quorvin {

// NotFound-free name check: InvalidInput for an empty name or one holding a path separator,
// NUL, or being "." or "..".
Status CheckPresetName(std::string_view name);
// A check value as a preset line or a settings-list field writes it: "0", "1" or "2" with
// blanks around it allowed. nullopt for anything else.
std::optional<int> ParseCheck(std::string_view line);
std::string PresetPath(const std::string& presets_folder, std::string_view name);

inline constexpr int kPresetLineCount = kSettingCount + 1;

// The sixteen lines, each ended by CR LF. Line 4 is the system name.
std::string FormatPreset(const RunSettings& settings);

// Reads a preset into a copy of `base` (the system list and everything a preset does not
// hold are kept; no system entry is left chosen). Lines may end in CR LF or LF; a missing
// sixteenth line, or one that is not a check value, reads as 0 (files of earlier versions);
// lines after the sixteenth are ignored; check lines may carry blanks around their digit.
// Corrupt, naming the source and the line, when the file has fewer than fifteen lines, holds
// NUL bytes, or a check line is not 0, 1 or 2; nothing is applied then.
// `source` names what is read in messages: "the preset file /x/nes.pre".
Result<RunSettings> ParsePreset(std::string_view bytes, const std::string& source,
                                const RunSettings& base);

// Writes the preset atomically. InvalidInput for a bad name.
Status SavePresetFile(const std::string& presets_folder, std::string_view name,
                      const RunSettings& settings);

// Preset names in the folder (files "*.pre" less their extension), in name order.
Result<std::vector<std::string>> ListPresets(const std::string& presets_folder);

}  // namespace quorvin
