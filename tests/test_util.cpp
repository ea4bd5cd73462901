#include "test_util.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "dat/crc.h"
#include "platform/path.h"
#include "platform/process.h"
#ifdef _WIN32
#include "platform/wide_win32.h"
#endif

namespace quorvin::test {

namespace fs = std::filesystem;

// Our paths are UTF-8; the standard library on Windows reads a narrow path in the ANSI code
// page, so it gets the wide form there.
fs::path Native(const std::string& path) {
#ifdef _WIN32
  return fs::path(Widen(path));
#else
  return fs::path(path);
#endif
}

namespace {

std::string Utf8(const fs::path& p) {
#ifdef _WIN32
  return Narrow(p.wstring());
#else
  return p.string();
#endif
}

}  // namespace

TempDir::TempDir() {
  std::string base = EnvironmentValue("TMPDIR");
  if (base.empty()) base = Utf8(fs::temp_directory_path());
  while (!base.empty() && (base.back() == '/' || base.back() == '\\')) base.pop_back();
  std::random_device rd;
  std::mt19937_64 rng(rd());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = base + OsPath("/quorvin-test-") + std::to_string(rng() % 1000000000);
    std::error_code ec;
    if (fs::create_directory(Native(candidate), ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder in " + base);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Give back write bits that a test took away, so that everything can be removed.
  for (auto it = fs::recursive_directory_iterator(Native(path_), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    // Never through a link: a test's link to /dev/null would change the device's own mode.
    if (it->is_symlink(ignored)) continue;
    fs::permissions(it->path(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ignored);
  }
  fs::remove_all(Native(path_), ec);
}

std::string TempDir::operator/(std::string_view name) const {
  return path_ + OsPath("/" + std::string(name));
}

std::string OsPath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '/') c = kPathSep;
  }
  return out;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(Native(path), std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(Native(path), std::ios::binary);
  if (!f) return "<missing " + path + ">";
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void MakeDir(const std::string& path) { fs::create_directories(Native(path)); }

void MakeProgramFolder(const std::string& path) {
  MakeDir(path + "/presets");
  MakeDir(path + "/conversions");
}

std::string ToUpper(std::string s) {
  for (char& c : s) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return s;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(Native(path), ec);
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(Native(path))) {
    out.push_back(Utf8(e.path().filename()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

void MakeHidden(const std::string& path) {
#ifdef _WIN32
  SetFileAttributesW(Widen(path).c_str(), FILE_ATTRIBUTE_HIDDEN);
#else
  (void)path;
#endif
}

void MakeReadOnly(const std::string& path) {
  // On Windows this sets the read-only attribute.
  fs::permissions(Native(path),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

void MakeOld(const std::string& path) {
  fs::last_write_time(Native(path), fs::file_time_type::clock::now() - std::chrono::hours(1));
}

std::string TestDataDir() {
  // $QUORVIN_TESTDATA when set (the data kept elsewhere), else the folder beside the checkout.
  const char* set = std::getenv("QUORVIN_TESTDATA");
  std::string dir = set != nullptr && *set != '\0' ? std::string(set) : QUORVIN_TESTDATA;
#ifdef _WIN32
  // Under Wine a Linux path is found on drive Z:.
  if (dir.starts_with('/')) dir = "Z:" + dir;
#endif
  std::error_code ec;
  return fs::is_directory(Native(dir + "/mess/crc"), ec) ? dir : std::string();
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

RunFolders::RunFolders() : runner(dir / "home", rep) {
  MakeProgramFolder(dir / "home");
  MakeDir(dir / "roms");
  RunSettings& s = runner.settings;
  s.txtRom = dir / "roms";
  s.txtOutput = dir / "out.dat";
  s.chkCvtRoms = 1;
}

void RunFolders::UseNesMessAndArt() {
  MakeDir(dir / "art");
  MakeDir(dir / "mess/crc");
  RunSettings& s = runner.settings;
  s.txtMessPath = dir / "mess";  // no trailing separator: the stage still runs
  s.txtExtension = ".nes";
  s.cmbHName.text = "nes";
  s.txtRenamePaths = dir / "art";
}

#ifdef _WIN32

int RunCommand(const std::string& command, std::string* output) {
  // Text mode turns the CR LF of the program's messages back into LF, as on Linux.
  FILE* p = ::_wpopen(Widen(command + " 2>&1").c_str(), L"rt");
  if (p == nullptr) return -1;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = ::_pclose(p);
  if (output) *output = out;
  return rc;
}

std::string ShellQuote(std::string_view s) {
  // The quoting that the program's command-line parser undoes; cmd.exe leaves "|" and
  // blanks inside double quotes alone.
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : s) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

void SetEnvironment(const char* name, const std::string& value) {
  // _putenv_s with an empty value removes the variable.
  ::_putenv_s(name, value.c_str());
}

std::string WithEnvironment(std::string_view name, std::string_view value) {
  return "set \"" + std::string(name) + "=" + std::string(value) + "\" && ";
}

#else

int RunCommand(const std::string& command, std::string* output) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return -1;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = ::pclose(p);
  if (output) *output = out;
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string ShellQuote(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  out.push_back('\'');
  return out;
}

void SetEnvironment(const char* name, const std::string& value) {
  if (value.empty()) {
    ::unsetenv(name);
  } else {
    ::setenv(name, value.c_str(), 1);
  }
}

std::string WithEnvironment(std::string_view name, std::string_view value) {
  return std::string(name) + "=" + ShellQuote(value) + " ";
}

#endif

}  // namespace quorvin::test
