// Feeds arbitrary bytes to the entity decoder the trace readers apply to every
// value, and to the hex and time helpers beside it. Besides memory errors it
// checks: decoding never grows the text, keeps UTF-8 valid, leaves text without
// an ampersand alone, and undoes both escaping with the five named entities and
// writing every character as a numeric reference.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "capture/trace_text.h"
#include "common/text.h"

namespace {

std::string EscapeNamed(std::string_view text) {
  const char* const entities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
  std::string out;
  for (char c : text) {
    const size_t at = std::string_view("&<>\"'").find(c);
    out += at == std::string_view::npos ? std::string(1, c) : entities[at];
  }
  return out;
}

// Every code point of valid UTF-8 text as a reference, hexadecimal and decimal
// in turn.
std::string EscapeNumeric(std::string_view text) {
  std::string out;
  size_t i = 0;
  bool hex = true;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    char reference[16];
    std::snprintf(reference, sizeof(reference), hex ? "&#x%X;" : "&#%u;",
                  static_cast<unsigned>(code));
    out += reference;
    hex = !hex;
    i += length;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek_native;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string decoded = DecodeXmlEntities(text);
  Check(decoded.size() <= text.size());
  if (text.find('&') == std::string_view::npos) Check(decoded == text);
  Check(DecodeXmlEntities(EscapeNamed(text)) == text);
  if (IsValidUtf8(text)) {
    Check(IsValidUtf8(decoded));
    Check(DecodeXmlEntities(EscapeNumeric(text)) == text);
  }

  std::vector<uint8_t> bytes;
  if (HexToBytes(text, &bytes)) {
    std::vector<uint8_t> again;
    Check(!bytes.empty() && HexToBytes(BytesToHex(bytes), &again) && again == bytes);
  }
  int64_t micros = 0;
  if (ParseEventTime(text, &micros)) Check(micros > 0);
  return 0;
}
