#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Text rules shared by every stage. Texts are 8-bit strings taken as they stand; only ASCII
// letters fold when a comparison ignores case, and "trim" removes blanks (0x20) only.
namespace quorvin {

inline constexpr std::string_view kCrLf = "\r\n";

std::string_view TrimBlanks(std::string_view s);
std::string ToUpperAscii(std::string_view s);
// Inline: listing and matching a folder call it for every letter of every name.
inline char ToUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Orders names as a case-insensitive listing does; names equal but for case fall back to
// byte order so that the order is total.
bool LessIgnoreCase(std::string_view a, std::string_view b);
// Sorts names by LessIgnoreCase. Quicker than std::sort with it for a folder of thousands:
// most pairs are told apart by their first eight letters, compared as one number.
void SortIgnoreCase(std::vector<std::string>& names);
// Splits at every `sep`, keeping empty pieces: "a;;b;" gives "a", "", "b", "".
std::vector<std::string> Split(std::string_view s, char sep);
// Replaces every non-overlapping occurrence of `from`, scanning from the left. An empty
// `from` replaces nothing.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
// Removes every occurrence of each character of `chars`.
std::string RemoveChars(std::string_view s, std::string_view chars);
// The text in double quotes when it holds a blank, otherwise unchanged.
std::string QuoteIfBlank(std::string_view s);

// True for the bytes 0x00-0x1F and 0x7F.
bool IsControlChar(char c);
bool HasControlChar(std::string_view s);
// The text without its control characters.
std::string RemoveControlChars(std::string_view s);
// User data as a message quotes it: control characters written as \n, \r, \t or \xNN, and
// at most `max_bytes` bytes of the text (cut at a character boundary, "..." added).
std::string ForMessage(std::string_view s, size_t max_bytes = 200);

// A number of bytes as a person reads it: "512 bytes", "1.5 KiB", "8.0 GiB" (one decimal,
// binary units up to TiB).
std::string SizeText(uint64_t bytes);
// "<done> of <total>" in SizeText's words, the unit written once when both share it
// ("2.1 of 8.0 GiB"); only "<done>" when `total` is 0 (not known).
std::string ByteProgressText(uint64_t done, uint64_t total);

}  // namespace quorvin
