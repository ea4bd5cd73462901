#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/text.h"

namespace quorvin {

Result<std::vector<std::string>> ListFolder(const std::string& folder, std::string_view pattern) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return Status::NotFound("The folder " + folder + " does not exist");
    }
    return Status::Io(ErrnoMessage("list the folder", folder, errno));
  }
  std::vector<std::string> names;
  while (true) {
    errno = 0;
    dirent* e = ::readdir(dir);
    if (e == nullptr) {
      if (errno != 0) {
        int err = errno;
        ::closedir(dir);
        return Status::Io(ErrnoMessage("list the folder", folder, err));
      }
      break;
    }
    std::string_view name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (!WildcardMatch(pattern, name)) continue;
    bool regular = e->d_type == DT_REG;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) regular = IsFile(JoinPath(folder, name));
    if (regular) names.emplace_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return LessIgnoreCase(a, b); });
  return names;
}

Result<std::vector<std::string>> ListEntries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return Status::NotFound("The folder " + folder + " does not exist");
    }
    return Status::Io(ErrnoMessage("list the folder", folder, errno));
  }
  std::vector<std::string> names;
  while (true) {
    errno = 0;
    dirent* e = ::readdir(dir);
    if (e == nullptr) {
      int err = errno;
      ::closedir(dir);
      if (err != 0) return Status::Io(ErrnoMessage("list the folder", folder, err));
      return names;
    }
    std::string_view name = e->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
}

std::string ResolveNameIgnoreCase(const std::string& folder, std::string_view name) {
  std::string exact = JoinPath(folder, name);
  if (Exists(exact)) return exact;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return exact;
  std::string found;
  while (dirent* e = ::readdir(dir)) {
    if (EqualsIgnoreCase(e->d_name, name)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found.empty() ? exact : JoinPath(folder, found);
}

}  // namespace quorvin
