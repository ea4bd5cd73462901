#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "forge_crc.h"
#include "platform/reporter.h"
#include "run/runner.h"

namespace quorvin::test {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes. Tests never touch a path outside their own TempDir.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() joined with a relative name; "/" in the name becomes the platform's separator.
  std::string operator/(std::string_view name) const;

 private:
  std::string path_;
};

// The path with every "/" written as the platform's separator ("\" on Windows), the way the
// program joins paths: for expected paths and texts.
std::string OsPath(std::string_view path);

void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);
void MakeDir(const std::string& path);
// A program folder with its presets/ and conversions/ folders.
void MakeProgramFolder(const std::string& path);
bool Exists(const std::string& path);
std::string ToUpper(std::string s);
// Sorted names of everything in a folder (hidden ones included).
std::vector<std::string> FolderEntries(const std::string& path);
// Makes a file hidden as the platform has it: on Linux its name (beginning with ".") does
// that already; on Windows this sets the hidden attribute.
void MakeHidden(const std::string& path);
// Removes the write bits of a file or folder.
void MakeReadOnly(const std::string& path);
// Sets a file's modification time an hour back.
void MakeOld(const std::string& path);
// The shared test data folder ($QUORVIN_TESTDATA when set, else ../shared/testdata beside
// the checkout), or "" when it is not there. Tests that need it skip with the message
// "shared test data not found", which the test command counts.
std::string TestDataDir();

// Records everything a run shows.
class RecordingReporter : public Reporter {
 public:
  void SetStatus(std::string_view text) override { statuses.emplace_back(text); }
  void SetFileStatus(std::string_view text, size_t done, size_t total) override {
    file_statuses.emplace_back(text);
    last_done = done;
    last_total = total;
  }
  void Message(std::string_view title, std::string_view text) override {
    messages.push_back(std::string(title) + ": " + std::string(text));
  }
  void Warning(std::string_view text) override { warnings.emplace_back(text); }

  std::vector<std::string> statuses;
  std::vector<std::string> file_statuses;
  std::vector<std::string> messages;
  std::vector<std::string> warnings;
  size_t last_done = 0;
  size_t last_total = 0;
};

// A recording reporter that runs `swap` once, at the first warning: the scan warns about a
// name with a control character after the folder is listed and before it reads a byte, so a
// test can change the folder under the scan at that moment.
class SwappingReporter : public RecordingReporter {
 public:
  void Warning(std::string_view text) override {
    RecordingReporter::Warning(text);
    if (swap) std::exchange(swap, nullptr)();
  }
  std::function<void()> swap;
};

// Whether `part` occurs in `text`.
bool Contains(std::string_view text, std::string_view part);

// A whole run in a folder of its own: a program folder dir/home, an empty ROM folder dir/roms
// and a Runner whose settings list it in dir/out.dat with ROM renaming on. Test fixtures
// derive from it beside ::testing::Test.
struct RunFolders {
  RunFolders();
  // Adds the MESS stage for "nes" ROMs (an empty dir/mess/crc) and the artwork folder dir/art.
  void UseNesMessAndArt();

  TempDir dir;
  RecordingReporter rep;
  Runner runner;
};

// Runs a command through the shell (cmd.exe on Windows); returns its exit status and fills
// `output` with what it wrote to stdout and stderr, line ends as LF.
int RunCommand(const std::string& command, std::string* output);
// Quotes a text as one argument for the shell.
std::string ShellQuote(std::string_view s);
// Sets an environment variable of this process; an empty value removes it.
void SetEnvironment(const char* name, const std::string& value);
// A command prefix that runs the command after it with an environment variable set.
std::string WithEnvironment(std::string_view name, std::string_view value);
// A path for the standard library (std::filesystem, fstreams), which on Windows would read a
// narrow path in the ANSI code page.
std::filesystem::path Native(const std::string& path);

}  // namespace quorvin::test
