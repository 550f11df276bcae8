// MetaValue reads key=value result files written by another process: any
// bytes must give a value that is a piece of the text, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "capture/elevated_helper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first line is the key, the rest the file.
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\n');
  const std::string_view key = input.substr(0, split);
  const std::string_view text =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  const std::string value = vek_native::MetaValue(text, key);
  Check(value.empty() || text.find(value) != std::string_view::npos);
  Check(value.find('\n') == std::string::npos);
  return 0;
}
