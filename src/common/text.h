// Text conversion between the program's UTF-8 and the UTF-16 of Windows calls.
#ifndef VEK_COMMON_TEXT_H_
#define VEK_COMMON_TEXT_H_

#include <string>
#include <string_view>

namespace vek_native {

// UTF-8 to UTF-16 the way MultiByteToWideChar(CP_UTF8, 0, ...) does it: every
// ill-formed sequence (maximal subpart) becomes U+FFFD. Empty input gives "".
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8 the way WideCharToMultiByte(CP_UTF8, 0, ...) does it: an
// unpaired surrogate becomes U+FFFD. Empty input gives "".
std::string Utf16ToUtf8(std::u16string_view utf16);

// Appends the UTF-8 encoding of a code point. Surrogates and values above
// U+10FFFF append nothing, so the result stays valid UTF-8.
void AppendUtf8(std::string& out, char32_t code_point);

// True when the text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// The text with every ill-formed sequence replaced by U+FFFD. Everything the
// native side sends must be valid UTF-8: the user interface's decoder rejects a
// whole message otherwise.
std::string RepairUtf8(std::string_view text);

// An instance ID as a message or a note quotes it: valid UTF-8, cut after 200
// characters (MAX_DEVICE_ID_LEN: no device has a longer one) with "…", so a
// caller's 100,000-character "ID" is not echoed whole.
std::string EchoedInstanceId(std::string_view id);

// ASCII-only case mapping and comparison, every other byte kept: how Windows
// device paths and instance IDs, which differ only in ASCII letter case, are
// compared.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

#ifdef _WIN32
// Code page 65001 with flags 0; empty input or a failed conversion gives "".
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
#endif

}  // namespace vek_native

#endif  // VEK_COMMON_TEXT_H_
