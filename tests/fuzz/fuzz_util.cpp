#include "fuzz_util.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

// The harnesses write thousands of small files a second into their sandboxes and never need
// them to survive a power cut: syncing them to the disk would only slow the runs down.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }

namespace quorvin::fuzz {

namespace fs = std::filesystem;

void Fail(const char* file, int line, const char* cond, std::string_view what) {
  std::fprintf(stderr, "\n%s:%d: property failed: %s\n  %.*s\n", file, line, cond,
               static_cast<int>(what.size()), what.data());
  std::abort();
}

std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t count) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  while (parts.size() + 1 < count) {
    size_t at = in.find(kPartSeparator);
    if (at == std::string_view::npos) break;
    parts.emplace_back(in.substr(0, at));
    in.remove_prefix(at + kPartSeparator.size());
  }
  parts.emplace_back(in);
  while (parts.size() < count) parts.emplace_back();
  return parts;
}

namespace {
std::string& SandboxToRemove() {
  static std::string path;
  return path;
}
}  // namespace

std::string FreshSandbox(std::string_view name) {
  const std::string path =
      "/tmp/quorvin-fuzz-" + std::string(name) + "-" + std::to_string(::getpid());
  RemoveTree(path);
  MakeDirs(path);
  // A run that ends normally takes its sandbox with it; one that stops on a finding leaves
  // it for a look.
  if (SandboxToRemove().empty()) {
    SandboxToRemove() = path;
    std::atexit([] { RemoveTree(SandboxToRemove()); });
  }
  return path;
}

void RemoveTree(const std::string& path) {
  // Only ever a sandbox of this process.
  if (path.rfind("/tmp/quorvin-fuzz-", 0) != 0) Fail(__FILE__, __LINE__, "sandbox", path);
  std::error_code ec;
  fs::remove_all(path, ec);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) Fail(__FILE__, __LINE__, "write", path);
}

void MakeDirs(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) Fail(__FILE__, __LINE__, "mkdir", path);
}

std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string rel = fs::relative(it->path(), folder).string();
    if (it->is_directory()) {
      out[rel + "/"] = "";
    } else {
      std::ifstream f(it->path(), std::ios::binary);
      std::ostringstream s;
      s << f.rdbuf();
      out[rel] = s.str();
    }
  }
  return out;
}

std::string_view TrimNameBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace quorvin::fuzz
