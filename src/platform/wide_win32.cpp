#include "platform/wide_win32.h"

#include "platform/path.h"

namespace quorvin {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

namespace {

// The length past which a path needs the "\\?\" prefix: MAX_PATH less room for the 8.3 name
// that CreateDirectory insists on.
constexpr size_t kLongPath = 240;

bool HasDotParts(std::wstring_view p) {
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(L'\\', start);
    if (end == std::wstring_view::npos) end = p.size();
    std::wstring_view part = p.substr(start, end - start);
    if (part == L"." || part == L"..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::wstring WidePath(std::string_view path) {
  std::wstring w = Widen(path);
  for (wchar_t& c : w) {
    if (c == L'/') c = L'\\';
  }
  if (w.size() < kLongPath || w.rfind(L"\\\\?\\", 0) == 0 || HasDotParts(w)) return w;
  const bool drive = w.size() >= 3 && w[1] == L':' && w[2] == L'\\';
  if (drive) return L"\\\\?\\" + w;
  if (w.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + w.substr(2);
  return w;
}

std::string Win32Message(std::string_view verb, const std::string& path, DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason;
  if (n > 0 && text != nullptr) {
    reason = Narrow(std::wstring_view(text, n));
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
      reason.pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
  if (reason.empty()) reason = "system error " + std::to_string(error);
  std::string out = "Cannot ";
  out.append(verb).append(" ").append(path).append(": ").append(reason);
  return out;
}

}  // namespace quorvin
