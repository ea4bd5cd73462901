#include "test_util.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "dat/crc.h"

namespace quorvin::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorvin-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Give back write bits that a test took away, so that everything can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    ::chmod(it->path().c_str(), 0755);
  }
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::operator/(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return "<missing " + path + ">";
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void MakeDir(const std::string& path) { std::filesystem::create_directories(path); }

void MakeProgramFolder(const std::string& path) {
  MakeDir(path + "/presets");
  MakeDir(path + "/conversions");
}

std::string ToUpper(std::string s) {
  for (char& c : s) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return s;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(path)) {
    out.push_back(e.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

void MakeReadOnly(const std::string& path) {
  struct stat st;
  ::stat(path.c_str(), &st);
  ::chmod(path.c_str(), st.st_mode & ~0222);
}

std::string TestDataDir() {
  std::string dir = QUORVIN_TESTDATA;
  struct stat st;
  return ::stat((dir + "/mess/crc").c_str(), &st) == 0 ? dir : std::string();
}

std::string ForgeCrc(std::string prefix, uint32_t target) {
  const uint32_t* t = Crc32Table();
  uint8_t index_of_top[256];
  for (int i = 0; i < 256; ++i) index_of_top[t[i] >> 24] = static_cast<uint8_t>(i);
  // Walk back from the wanted register: each step's table index is fixed by its top byte.
  uint8_t idx[4];
  uint32_t w = ~target;
  for (int k = 3; k >= 0; --k) {
    idx[k] = index_of_top[w >> 24];
    w = (w ^ t[idx[k]]) << 8;
  }
  uint32_t reg =
      Crc32Update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(prefix.data()), prefix.size());
  for (int k = 0; k < 4; ++k) {
    prefix.push_back(static_cast<char>((reg ^ idx[k]) & 0xFF));
    reg = (reg >> 8) ^ t[idx[k]];
  }
  return prefix;
}

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

}  // namespace quorvin::test
