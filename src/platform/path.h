#pragma once

#include <string>
#include <string_view>

// Every rule about how paths are written lives here, so that a build for a platform with
// another separator changes this file alone.
namespace quorvin {

#ifdef _WIN32
inline constexpr char kPathSep = '\\';
#else
inline constexpr char kPathSep = '/';
#endif

bool IsPathSep(char c);
// The folder with one separator at its end; a folder written with or without it names the
// same folder. An empty text stays empty.
std::string WithTrailingSep(std::string_view folder);
// The folder without separators at its end. A root keeps its separator: "/" on Linux; "\",
// "C:\" and "\\server\share\" on Windows.
std::string WithoutTrailingSep(std::string_view folder);
// folder + separator + name, adding the separator only when the folder lacks one.
std::string JoinPath(std::string_view folder, std::string_view name);
// The part after the last separator (the whole text when there is none).
std::string_view FileNameOf(std::string_view path);
// The folder part, without its trailing separator (a root keeps it); "." when the path holds
// no separator.
std::string FolderOf(std::string_view path);
// True for a name that stays inside its folder when joined to it: not empty, not "." or
// "..", and free of separators and NUL bytes. On Windows also a name that the file system
// keeps as written: no control characters or any of <>:"|?*, no trailing dot or blank, and
// no device name (CON, NUL, COM1, ...).
bool IsPlainFileName(std::string_view name);

}  // namespace quorvin
