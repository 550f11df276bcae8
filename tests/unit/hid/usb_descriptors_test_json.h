// A minimal JSON reader for the shared test vectors (objects, arrays, strings
// with escapes, numbers, literals). Test-only: malformed input fails the test.
#ifndef VEK_TESTS_UNIT_HID_USB_DESCRIPTORS_TEST_JSON_H_
#define VEK_TESTS_UNIT_HID_USB_DESCRIPTORS_TEST_JSON_H_

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/hex.h"

namespace vek_test {

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;

  const Json& operator[](const std::string& key) const {
    static const Json null_value;
    auto it = fields.find(key);
    return it == fields.end() ? null_value : it->second;
  }
  bool Has(const std::string& key) const { return fields.count(key) != 0; }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}
  Json Parse() {
    Json value = Value();
    Space();
    if (p_ != s_.size()) throw std::runtime_error("trailing JSON text");
    return value;
  }

 private:
  void Space() {
    while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\n' || s_[p_] == '\r' || s_[p_] == '\t'))
      ++p_;
  }
  char Next() {
    if (p_ >= s_.size()) throw std::runtime_error("JSON ends early");
    return s_[p_++];
  }
  void Expect(const char* word) {
    for (const char* c = word; *c; ++c) {
      if (Next() != *c) throw std::runtime_error("bad JSON literal");
    }
  }
  static void Append(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  uint32_t Hex4() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v = v * 16 + static_cast<uint32_t>(std::stoi(std::string(1, Next()), nullptr, 16));
    return v;
  }
  std::string String() {
    std::string out;
    if (Next() != '"') throw std::runtime_error("JSON string expected");
    for (;;) {
      char c = Next();
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      c = Next();
      switch (c) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          uint32_t cp = Hex4();
          if (cp >= 0xD800 && cp < 0xDC00) {
            Expect("\\u");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (Hex4() - 0xDC00);
          }
          Append(out, cp);
          break;
        }
        default:
          out += c;
      }
    }
  }
  Json Value() {
    Space();
    Json v;
    if (p_ >= s_.size()) throw std::runtime_error("JSON ends early");
    const char c = s_[p_];
    if (c == '{') {
      ++p_;
      v.kind = Json::kObject;
      Space();
      if (s_[p_] == '}') return ++p_, v;
      for (;;) {
        Space();
        std::string key = String();
        Space();
        if (Next() != ':') throw std::runtime_error("':' expected");
        v.fields[key] = Value();
        Space();
        const char d = Next();
        if (d == '}') return v;
        if (d != ',') throw std::runtime_error("',' expected");
      }
    }
    if (c == '[') {
      ++p_;
      v.kind = Json::kArray;
      Space();
      if (s_[p_] == ']') return ++p_, v;
      for (;;) {
        v.items.push_back(Value());
        Space();
        const char d = Next();
        if (d == ']') return v;
        if (d != ',') throw std::runtime_error("',' expected");
      }
    }
    if (c == '"') {
      v.kind = Json::kString;
      v.text = String();
      return v;
    }
    if (c == 't') return Expect("true"), v.kind = Json::kBool, v.boolean = true, v;
    if (c == 'f') return Expect("false"), v.kind = Json::kBool, v;
    if (c == 'n') return Expect("null"), v;
    size_t used = 0;
    v.kind = Json::kNumber;
    v.number = std::stod(s_.substr(p_, 40), &used);
    p_ += used;
    return v;
  }

  const std::string& s_;
  size_t p_ = 0;
};

inline std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline Json LoadJson(const std::string& path) { return JsonReader(ReadTextFile(path)).Parse(); }

inline std::string SharedTestData(const std::string& relative) {
  return std::string(VEK_SHARED_TESTDATA) + "/" + relative;
}

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_HID_USB_DESCRIPTORS_TEST_JSON_H_
