#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quorvin {

// Matches a file name against a wildcard pattern without regard to letter case. "*" stands
// for any run of characters, "?" for one; a pattern ending in ".*" also matches names with no
// "." at all, so "*.*" matches every name.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Lists the names (without folder) of the ordinary files of `folder` that match `pattern`,
// sorted by name without regard to letter case. Folders and hidden files are left out:
// names beginning with "." on Linux; on Windows files with the hidden or the system
// attribute. The list is a snapshot taken at the call.
// NotFound when the folder does not exist, Io when it cannot be read.
Result<std::vector<std::string>> ListFolder(const std::string& folder, std::string_view pattern);

// The names of every entry of `folder` (files, folders, hidden ones; not "." and ".."), in
// no particular order. NotFound / Io as ListFolder.
Result<std::vector<std::string>> ListEntries(const std::string& folder);

// The path of the entry of `folder` named `name`, found without regard to letter case (an
// exact match first), as the file systems the front end comes from compare names; when
// nothing matches, `folder` joined with `name` as given.
std::string ResolveNameIgnoreCase(const std::string& folder, std::string_view name);

}  // namespace quorvin
