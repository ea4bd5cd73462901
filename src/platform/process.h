#pragma once

#include <string>
#include <vector>

// What the program learns from the system it runs on: its arguments, its own folder, the
// environment, and where a user's data may go.
namespace quorvin {

// The arguments after the program's name, as UTF-8 (on Windows read from the wide command
// line, so that names outside the ANSI code page survive).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The folder that holds the running program file, or "" when it cannot be found.
std::string ExecutableFolder();

// The value of an environment variable as UTF-8, or "" when it is not set.
std::string EnvironmentValue(const char* name);

// Where the program keeps its files when its own folder is not writable:
// $XDG_DATA_HOME/quorvin (default ~/.local/share/quorvin) on Linux, %LOCALAPPDATA%\Quorvin
// on Windows.
std::string UserDataFolder();

// True when files can be created in the folder (tried, on Windows, where the folder's
// attributes say nothing about it).
bool IsWritableFolder(const std::string& folder);

// Prepares the console for UTF-8 text and, where the terminal understands it, for a status
// line rewritten in place. True when standard error is such a terminal.
bool PrepareConsole();

}  // namespace quorvin
