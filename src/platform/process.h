#pragma once

#include <cstdint>
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

// A lock between processes on one file, held while the object lives and let go by the
// system when the process ends in any way (killed, crashed): a lock never outlives its run.
class ProcessLock {
 public:
  ProcessLock() = default;
  ProcessLock(ProcessLock&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  ProcessLock& operator=(ProcessLock&&) = delete;
  ProcessLock(const ProcessLock&) = delete;
  ~ProcessLock();
  // Takes the lock of the file `path` (made empty when missing) without waiting. True once
  // it is held, false while another process holds it; with `usable` false when the file
  // cannot be made or locked at all (a read-only folder, a file system without locks).
  bool TryTake(const std::string& path, bool* usable);

 private:
  intptr_t handle_ = -1;  // a descriptor or a handle, by platform
};

}  // namespace quorvin
