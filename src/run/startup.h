#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"
#include "run/runner.h"

namespace quorvin {

inline constexpr std::string_view kLastUsedPreset = "lastused";

// Start-up without a command line: refreshes the preset list and loads the "lastused"
// preset when there is one. Problems with it are only reported as warnings.
void StartInteractive(Runner& runner);

// Start-up with a command line, then the run. Two forms:
//  - "-preset NAME": loads that preset (the name ends at the first blank);
//  - a settings list: fifteen "|"-separated fields in the settings' order, written to the
//    "lastused" preset and loaded from it; "-save" anywhere in it is removed and asks for the
//    settings to be saved as the system's preset after the run.
// Then runs the Start command, or the Revert command when `revert` is set. Sets SilentMode.
// Returns the first failure (already shown as a message), or Ok when the command completed.
Status RunCommandLine(Runner& runner, std::string_view command_line, bool revert);

// The exit status of a command-line run, for scripts: 0 when everything was done, 3 when the
// command completed with warnings (something was skipped or failed on the way), 1 when it
// stopped (a failure, a refusal, or the user's Stop). 2 is left for usage errors.
inline constexpr int kExitDone = 0;
inline constexpr int kExitStopped = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitWarnings = 3;
int ExitStatusOf(const Status& status, size_t warnings);

// Closing the window: saves the settings as "lastused".
Status ShutDown(Runner& runner);

// The folder that holds tempdat.dat, default.dat, presets/ and conversions/: $QUORVIN_HOME
// when set; else the folder of the executable when it is writable; else
// $XDG_DATA_HOME/quorvin (default ~/.local/share/quorvin).
std::string ResolveProgramFolder(const std::string& executable_folder);
// Creates the program folder and its presets/ and conversions/ folders when missing.
Status PrepareProgramFolder(const std::string& folder);

}  // namespace quorvin
