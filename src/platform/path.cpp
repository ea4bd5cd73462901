#include "platform/path.h"

namespace quorvin {

bool IsPathSep(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

std::string WithTrailingSep(std::string_view folder) {
  std::string out(folder);
  if (!out.empty() && !IsPathSep(out.back())) out.push_back(kPathSep);
  return out;
}

std::string WithoutTrailingSep(std::string_view folder) {
  std::string out(folder);
  while (out.size() > 1 && IsPathSep(out.back())) out.pop_back();
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string out = WithTrailingSep(folder);
  out.append(name);
  return out;
}

std::string_view FileNameOf(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSep(path[i - 1])) return path.substr(i);
  }
  return path;
}

std::string FolderOf(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSep(path[i - 1])) {
      if (i == 1) return std::string(1, kPathSep);
      return WithoutTrailingSep(path.substr(0, i));
    }
  }
  return ".";
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '\0' || IsPathSep(c) || c == '/') return false;
  }
  return true;
}

}  // namespace quorvin
