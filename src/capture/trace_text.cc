#include "capture/trace_text.h"

#include <limits>

#include "common/text.h"

namespace vek_native {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool HasHexPrefix(std::string_view text) {
  return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Whole text as hexadecimal; values beyond 64 bits saturate, which every
// caller treats as out of range anyway.
bool ParseWholeHex(std::string_view text, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    const int d = HexValue(c);
    if (d < 0) return false;
    v = v > (std::numeric_limits<uint64_t>::max() >> 4) ? std::numeric_limits<uint64_t>::max()
                                                        : (v << 4) | static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

bool FourHexDigits(std::string_view text, size_t pos, uint32_t* value) {
  if (pos + 4 > text.size()) return false;
  uint32_t v = 0;
  for (size_t i = pos; i < pos + 4; ++i) {
    const int d = HexValue(text[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t year, int64_t month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a proleptic Gregorian date (the calendar FILETIME
// uses), by the era-based conversion that needs no table and no loop.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int64_t Digits(std::string_view text, size_t pos, size_t count) {
  int64_t v = 0;
  for (size_t i = pos; i < pos + count; ++i) v = v * 10 + (text[i] - '0');
  return v;
}

}  // namespace

bool IsAsciiBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimAsciiSpace(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsAsciiBlank(text[begin])) ++begin;
  while (end > begin && IsAsciiBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string DecodeXmlEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) break;
    out.append(text.substr(pos, amp - pos));
    const size_t semi = text.find(';', amp + 1);
    if (semi == std::string_view::npos) {
      // No semicolon follows this ampersand, so none follows any later one:
      // the rest is copied as it stands (keeps the scan linear).
      pos = amp;
      break;
    }
    const std::string_view name = text.substr(amp + 1, semi - amp - 1);
    if (name == "amp") {
      out.push_back('&');
    } else if (name == "lt") {
      out.push_back('<');
    } else if (name == "gt") {
      out.push_back('>');
    } else if (name == "quot") {
      out.push_back('"');
    } else if (name == "apos") {
      out.push_back('\'');
    } else if (!name.empty() && name[0] == '#') {
      uint64_t code = 0;
      bool ok = false;
      if (name.size() >= 2 && (name[1] == 'x' || name[1] == 'X')) {
        ok = ParseWholeHex(name.substr(2), &code);
      } else {
        uint32_t number = 0;
        ok = ParseUnsignedNumber(name.substr(1), &number);
        code = number;
      }
      // AppendUtf8 drops surrogates; larger values are dropped here.
      if (ok && code <= 0x10FFFF) AppendUtf8(out, static_cast<char32_t>(code));
    } else {
      out.append(text.substr(amp, semi - amp + 1));
    }
    pos = semi + 1;
  }
  if (pos < text.size()) out.append(text.substr(pos));
  return out;
}

bool HexToBytes(std::string_view text, std::vector<uint8_t>* bytes) {
  bytes->clear();
  size_t pos = 0;
  while (pos < text.size() && IsAsciiBlank(text[pos])) ++pos;
  if (HasHexPrefix(text.substr(pos))) pos += 2;
  std::vector<uint8_t> out;
  out.reserve((text.size() - pos) / 2);
  int high = -1;
  size_t kept = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (IsAsciiBlank(c)) continue;
    ++kept;
    const int d = HexValue(c);
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<uint8_t>((high << 4) | d));
      high = -1;
    }
  }
  if (kept == 0 || high >= 0) return false;
  *bytes = std::move(out);
  return true;
}

std::string BytesToHex(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 0xF];
  }
  return out;
}

bool ParseUnsignedNumber(std::string_view text, uint32_t* value) {
  text = TrimAsciiSpace(text);
  if (text.empty()) return false;
  unsigned base = 10;
  if (text.size() > 2 && HasHexPrefix(text)) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t v = 0;
  size_t used = 0;
  for (char c : text) {
    const int d = HexValue(c);
    if (d < 0 || static_cast<unsigned>(d) >= base) break;
    v = v * base + static_cast<unsigned>(d);
    if (v > std::numeric_limits<uint32_t>::max()) return false;
    ++used;
  }
  if (used == 0) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool ParseInt64Strict(std::string_view text, int64_t* value) {
  text = TrimAsciiSpace(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  // Accumulate the magnitude as unsigned so the most negative value fits.
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t v = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    const uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

bool ParseUsbInstanceId(std::string_view instance_path, UsbInstanceId* id) {
  const std::string upper = AsciiUpper(instance_path);
  if (upper.compare(0, 4, "USB\\") != 0) return false;
  const size_t vid = upper.find("VID_");
  const size_t pid = upper.find("PID_");
  UsbInstanceId result;
  if (vid == std::string::npos || pid == std::string::npos) return false;
  if (!FourHexDigits(upper, vid + 4, &result.vendor_id)) return false;
  if (!FourHexDigits(upper, pid + 4, &result.product_id)) return false;
  const size_t mi = upper.find("&MI_");
  if (mi != std::string::npos && mi + 6 <= upper.size()) {
    const int hi = HexValue(upper[mi + 4]);
    const int lo = HexValue(upper[mi + 5]);
    if (hi >= 0 && lo >= 0) result.interface_number = hi * 16 + lo;
  }
  *id = result;
  return true;
}

bool ParseEventTime(std::string_view text, int64_t* micros) {
  if (text.size() < 19) return false;
  if (text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') || text[13] != ':' ||
      text[16] != ':') {
    return false;
  }
  static const size_t kDigitPositions[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
  for (size_t p : kDigitPositions) {
    if (!IsDigit(text[p])) return false;
  }
  const int64_t year = Digits(text, 0, 4);
  const int64_t month = Digits(text, 5, 2);
  const int64_t day = Digits(text, 8, 2);
  const int64_t hour = Digits(text, 11, 2);
  const int64_t minute = Digits(text, 14, 2);
  const int64_t second = Digits(text, 17, 2);
  // The ranges SystemTimeToFileTime accepts; years before 1970 fail below.
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  int64_t fraction = 0;
  if (text.size() > 19 && text[19] == '.') {
    size_t count = 0;
    for (size_t p = 20; p < text.size() && count < 6 && IsDigit(text[p]); ++p, ++count) {
      fraction = fraction * 10 + (text[p] - '0');
    }
    for (size_t i = count; i < 6; ++i) fraction *= 10;
  }
  const int64_t seconds =
      DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  const int64_t whole = seconds * 1000000;
  if (whole <= 0) return false;
  *micros = whole + fraction;
  return true;
}

std::string NormalizeHex(std::string_view value) {
  if (HasHexPrefix(value)) value.remove_prefix(2);
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (HexValue(c) < 0) continue;
    out.push_back(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  if (out.size() < 2 || out.size() % 2 != 0) out.clear();
  return out;
}

std::string CollapseWhitespace(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool pending_blank = false;
  for (char c : text) {
    if (IsAsciiBlank(c)) {
      pending_blank = !out.empty();
      continue;
    }
    if (pending_blank) out.push_back(' ');
    pending_blank = false;
    out.push_back(c);
  }
  return out;
}

}  // namespace vek_native
