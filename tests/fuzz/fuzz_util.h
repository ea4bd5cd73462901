#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Helpers shared by the libFuzzer harnesses.
namespace quorvin::fuzz {

// Stops the run with a report when a property does not hold; libFuzzer then saves the input.
#define FUZZ_CHECK(cond, what)                                             \
  do {                                                                     \
    if (!(cond)) ::quorvin::fuzz::Fail(__FILE__, __LINE__, #cond, (what)); \
  } while (0)
[[noreturn]] void Fail(const char* file, int line, const char* cond, std::string_view what);

// The parts of an input, cut at every kPartSeparator; at least `count` parts (missing ones
// are empty), the last one holding the rest.
inline constexpr std::string_view kPartSeparator = "\n--8<--\n";
std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t count);

// A folder of this process under /tmp ("/tmp/quorvin-fuzz-<name>-<pid>"), made empty; the
// first one made is removed when the process ends normally.
// Only harnesses write there, and only there.
std::string FreshSandbox(std::string_view name);
void RemoveTree(const std::string& path);
void WriteFile(const std::string& path, std::string_view bytes);
void MakeDirs(const std::string& path);
// Every file under `folder` (relative path -> bytes); folders as "<path>/".
std::map<std::string, std::string> Snapshot(const std::string& folder);

// Blanks and TABs removed at both ends, as the profile reader does with names.
std::string_view TrimNameBlanks(std::string_view s);

}  // namespace quorvin::fuzz
