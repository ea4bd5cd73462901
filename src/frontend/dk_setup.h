#pragma once

#include <string>
#include <string_view>

#include "platform/reporter.h"
#include "settings/settings.h"

namespace quorvin {

// Prepares the Dragon King front end for the run's system, in five steps, each when its check
// value is 1: the emulator config file made from cfgs/template.cfg with the ROM extension
// set; the ROM folders and the artwork folders added to dirs.ini; a virtual directory added
// before dirs.ini's "[/startvd]" marker; the output dat copied to list generator/dats. The
// list generator reads only the clrmamepro text: when `text_dat` is given, that text (the
// output dat's games in text form) is written there instead of a copy; an XML output without
// it is not copied (a warning).
//
// Does nothing when txtDkPath is empty or names no folder (a warning when a step was asked
// for); otherwise gives txtDkPath its
// trailing separator (in the settings themselves). A step that cannot do its work (a missing
// template or folder, a write that fails) is skipped and reported as a warning naming the
// path; the later steps still run. Every file is rewritten atomically, and a second run with
// the same settings changes nothing. Names inside the front end's folder are matched without
// regard to letter case.
void SetupDk(RunSettings& settings, Reporter& reporter, const std::string* text_dat = nullptr);

// The virtual directory step on the text of a dirs.ini: the new text, or the text unchanged
// when the system already has a virtual directory. Lines before the first marker line end in
// CR LF afterwards (leading empty lines dropped); the marker line and everything after it
// stay byte for byte. Sets `*no_marker` when the text has no marker line.
std::string AddVirtualDirectory(std::string_view dirs_ini, std::string_view system,
                                std::string_view description, bool* no_marker);

// Steps 2 and 3 on one value: the upper-cased path list with every upper-cased, non-empty
// element of `folders` that it does not already contain (as a substring) appended after ";".
std::string MergePathList(std::string_view stored, std::string_view folders);

}  // namespace quorvin
