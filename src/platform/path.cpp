#include "platform/path.h"

#include "platform/text.h"

namespace quorvin {

namespace {

// The length of the part of a path that names its root and that no separator may be taken
// from: "/" on Linux; on Windows "\", "C:", "C:\" and "\\server\share\".
size_t RootLength(std::string_view p) {
#ifdef _WIN32
  if (p.size() >= 2 && IsPathSep(p[0]) && IsPathSep(p[1])) {
    // \\server\share\ : the root runs to the separator after the share name.
    size_t server_end = 2;
    while (server_end < p.size() && !IsPathSep(p[server_end])) ++server_end;
    size_t share_end = server_end + 1;
    while (share_end < p.size() && !IsPathSep(p[share_end])) ++share_end;
    return share_end < p.size() ? share_end + 1 : p.size();
  }
  if (p.size() >= 2 && p[1] == ':' && ((p[0] | 0x20) >= 'a' && (p[0] | 0x20) <= 'z')) {
    return p.size() >= 3 && IsPathSep(p[2]) ? 3 : 2;
  }
#endif
  return !p.empty() && IsPathSep(p[0]) ? 1 : 0;
}

#ifdef _WIN32
// Names that Windows gives to devices, in any folder and with any extension.
bool IsDeviceName(std::string_view name) {
  std::string base = ToUpperAscii(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}
#endif

}  // namespace

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
  const size_t root = RootLength(out);
  while (out.size() > root && out.size() > 1 && IsPathSep(out.back())) out.pop_back();
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  // One allocation: the scan joins every file's path.
  const bool sep = !IsPathSep(folder.back());
  std::string out;
  out.reserve(folder.size() + (sep ? 1 : 0) + name.size());
  out.append(folder);
  if (sep) out.push_back(kPathSep);
  out.append(name);
  return out;
}

std::string_view FileNameOf(std::string_view path) {
  const size_t root = RootLength(path);
  for (size_t i = path.size(); i > root; --i) {
    if (IsPathSep(path[i - 1])) return path.substr(i);
  }
  return path.substr(root);
}

std::string FolderOf(std::string_view path) {
  const size_t root = RootLength(path);
  for (size_t i = path.size(); i > root; --i) {
    if (IsPathSep(path[i - 1])) return WithoutTrailingSep(path.substr(0, i));
  }
  if (root > 0) return std::string(path.substr(0, root));
  return ".";
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '\0' || IsPathSep(c) || c == '/') return false;
  }
#ifdef _WIN32
  // Characters Windows refuses in a name, and names it would not keep as written: it drops
  // trailing dots and blanks ("a." and "a" are one file) and takes device names for devices.
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) !=
                                                    std::string_view::npos) {
      return false;
    }
  }
  if (name.back() == '.' || name.back() == ' ' || IsDeviceName(name)) return false;
#endif
  return true;
}

}  // namespace quorvin
