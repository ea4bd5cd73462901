#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "run/runner.h"

namespace quorvin {

inline constexpr std::string_view kLastUsedPreset = "lastused";

// Start-up without a command line: refreshes the preset list and loads the "lastused"
// preset when there is one. Problems with it are only reported as warnings.
void StartInteractive(Runner& runner);

// What a command line asks for: a named preset, or the fifteen settings of a settings list.
struct CommandLine {
  bool named_preset = false;
  std::string preset;               // named_preset: the preset's name
  std::vector<std::string> fields;  // otherwise: the settings, in the settings' order
  bool save = false;                // a settings list with "-save": save the system's preset
  bool verify = false;              // "--verify": check the members of zipped ROMs
};

// Reads a command line given as its arguments (the program's name left out). The forms:
//  - "-preset NAME": when "-preset" is an argument of its own, the next argument is the whole
//    name (blanks included) and only "-save" may follow it (it is ignored: a named preset is
//    never saved again). When the first argument begins with "-preset " (a joined command
//    line), the name is the word after it, cut at its first blank. "-preset" counts only as
//    the first word.
//  - a settings list: fifteen "|"-separated fields in the settings' order. The arguments are
//    joined with blanks. "-save" asks for the settings to be saved as the system's preset
//    after the run; it counts only as a whole word outside the fields: an argument of its
//    own, or, in a joined command line, a blank-delimited word before or after the list.
// "--verify", an argument of its own before the rest, turns the zip check on for the run
// (whatever the preset or the last-used settings say).
// Nothing is read or written. InvalidInput for a malformed command line, with a message that
// names the field concerned ("field 7") and quotes at most 200 bytes of what was given: no
// arguments, a missing preset name, a wrong number of fields, a field holding a line break
// or NUL, a check field that is not 0, 1 or 2.
Result<CommandLine> ParseCommandLine(const std::vector<std::string>& args);

// Start-up with a command line, then the run: loads the named preset, or writes the
// settings list to the "lastused" preset and takes the same settings; then runs the Start
// command, or the Revert command when `revert` is set. Sets SilentMode, and NeedsSaved for
// "-save". Returns the first failure (already shown as a message), or Ok when the command
// completed (see Runner::warnings() for what it skipped).
Status RunCommandLine(Runner& runner, const CommandLine& command_line, bool revert);
// ParseCommandLine, then the above. A malformed command line is shown as a message and
// returned (InvalidInput) before anything is read or written.
Status RunCommandLine(Runner& runner, const std::vector<std::string>& args, bool revert);

// The exit status of a command-line run, for scripts: 0 when everything was done, 3 when the
// command completed with warnings (something was skipped or failed on the way), 1 when it
// stopped (a failure, a refusal, or the user's Stop), 2 for a malformed command line.
inline constexpr int kExitDone = 0;
inline constexpr int kExitStopped = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitWarnings = 3;
int ExitStatusOf(const Status& status, size_t warnings);

// Closing the window: saves the settings as "lastused".
Status ShutDown(Runner& runner);

// The folder that holds tempdat.dat, default.dat, presets/ and conversions/: $QUORVIN_HOME
// when set; else the folder of the executable when it is writable; else the user's data
// folder (UserDataFolder: ~/.local/share/quorvin, or %LOCALAPPDATA%\Quorvin on Windows).
std::string ResolveProgramFolder(const std::string& executable_folder);
// Creates the program folder and its presets/ and conversions/ folders when missing.
Status PrepareProgramFolder(const std::string& folder);

}  // namespace quorvin
