#pragma once

// Windows only: the bridge between the program's UTF-8 texts and the wide-character API, so
// that names outside the ANSI code page survive every call.
#include <windows.h>

#include <string>
#include <string_view>

namespace quorvin {

// UTF-8 to UTF-16. Bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(std::string_view utf8);
// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view wide);
// A path for the wide file API: "/" becomes "\", and a long absolute path (a drive path or a
// UNC path) gets the "\\?\" prefix, so that paths past the old 260-character limit work.
// Paths holding "." or ".." parts keep their form: the prefix would stop Windows from
// resolving them.
std::wstring WidePath(std::string_view path);
// "Cannot <verb> <path>: <the system's text for the error>".
std::string Win32Message(std::string_view verb, const std::string& path, DWORD error);

}  // namespace quorvin
