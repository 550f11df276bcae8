#include "common/text.h"

#include <cstdint>

namespace vek_native {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[pos]. Returns the number of bytes consumed
// (at least 1) and sets *ok to false for an ill-formed sequence, in which case
// the consumed bytes are the maximal subpart that must become one U+FFFD.
size_t DecodeOne(std::string_view text, size_t pos, char32_t* cp, bool* ok) {
  const auto b0 = static_cast<uint8_t>(text[pos]);
  *ok = false;
  if (b0 < 0x80) {
    *cp = b0;
    *ok = true;
    return 1;
  }
  size_t need = 0;
  uint8_t lo = 0x80;
  uint8_t hi = 0xBF;
  char32_t value = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    value = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    value = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 1;
  }
  size_t used = 1;
  for (size_t i = 0; i < need; ++i) {
    if (pos + used >= text.size()) return used;
    const auto b = static_cast<uint8_t>(text[pos + used]);
    // A continuation byte outside the lead byte's narrowed range (overlong,
    // surrogate, above U+10FFFF) is swallowed with the lead into one U+FFFD,
    // as Windows' converter does; any other byte starts afresh.
    if (i == 0 && (b & 0xC0) == 0x80 && (b < lo || b > hi)) return used + 1;
    if (b < lo || b > hi) return used;
    lo = 0x80;
    hi = 0xBF;
    value = (value << 6) | (b & 0x3F);
    ++used;
  }
  *cp = value;
  *ok = true;
  return used;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    if (cp >= 0xD800 && cp <= 0xDFFF) return;
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp <= 0x10FFFF) {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = 0;
    bool ok = false;
    pos += DecodeOne(utf8, pos, &cp, &ok);
    if (!ok) cp = kReplacement;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (static_cast<uint8_t>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    char32_t cp = 0;
    bool ok = false;
    pos += DecodeOne(text, pos, &cp, &ok);
    if (!ok) return false;
  }
  return true;
}

std::string RepairUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    bool ok = false;
    const size_t used = DecodeOne(text, pos, &cp, &ok);
    if (ok) {
      out.append(text.substr(pos, used));
    } else {
      AppendUtf8(out, kReplacement);
    }
    pos += used;
  }
  return out;
}

std::string EchoedInstanceId(std::string_view id) {
  constexpr size_t kMaxEchoedCharacters = 200;
  size_t pos = 0;
  for (size_t count = 0; pos < id.size() && count < kMaxEchoedCharacters; ++count) {
    char32_t cp = 0;
    bool ok = false;
    pos += DecodeOne(id, pos, &cp, &ok);
  }
  std::string out = RepairUtf8(id.substr(0, pos));
  if (pos < id.size()) out += "…";
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace vek_native
