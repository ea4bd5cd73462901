#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/text.h"

namespace quorvin {

namespace {

// Calls `each` for every entry of `folder`, "." and ".." included, in the order the system
// lists them. Fails with NotFound when the folder does not exist.
Status EachEntry(const std::string& folder, const std::function<void(const dirent&)>& each) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return Status::NotFound("The folder " + folder + " does not exist");
    }
    return Status::Io(ErrnoMessage("list the folder", folder, errno));
  }
  while (true) {
    errno = 0;
    dirent* e = ::readdir(dir);
    if (e == nullptr) {
      int err = errno;
      ::closedir(dir);
      if (err != 0) return Status::Io(ErrnoMessage("list the folder", folder, err));
      return Status::Ok();
    }
    each(*e);
  }
}

}  // namespace

Result<std::vector<std::string>> ListFolder(const std::string& folder, std::string_view pattern) {
  std::vector<std::string> names;
  Status s = EachEntry(folder, [&](const dirent& e) {
    std::string_view name = e.d_name;
    if (name.empty() || name[0] == '.') return;
    if (!WildcardMatch(pattern, name)) return;
    bool regular = e.d_type == DT_REG;
    if (e.d_type == DT_UNKNOWN || e.d_type == DT_LNK) regular = IsFile(JoinPath(folder, name));
    if (regular) names.emplace_back(name);
  });
  if (!s.ok()) return s;
  SortIgnoreCase(names);
  return names;
}

Result<std::vector<std::string>> ListEntries(const std::string& folder) {
  std::vector<std::string> names;
  Status s = EachEntry(folder, [&](const dirent& e) {
    std::string_view name = e.d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  });
  if (!s.ok()) return s;
  return names;
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
