#include "unit/channels/codec_test_util.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "channels/standard_codec.h"

namespace {

std::atomic<bool> g_probing{false};
std::atomic<size_t> g_largest{0};

void Note(size_t size) {
  if (!g_probing.load(std::memory_order_relaxed)) return;
  size_t seen = g_largest.load(std::memory_order_relaxed);
  while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
  }
}

}  // namespace

#if defined(__GNUC__) && !defined(__clang__)
// malloc/free behind new/delete is the point of the replacement.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

// Replaced for the whole test program so decoder tests can see how much a
// hostile message made the decoder ask for.
void* operator new(size_t size) {
  Note(size);
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace vek_native {

AllocationProbe::AllocationProbe() {
  g_largest = 0;
  g_probing = true;
}
AllocationProbe::~AllocationProbe() { g_probing = false; }
size_t AllocationProbe::largest() const { return g_largest; }

namespace {

template <typename T>
std::string LeHex(T value) {
  std::vector<uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);  // the test hosts are little-endian
  return ToHex(bytes);
}

template <typename T, typename F>
std::string Join(const std::vector<T>& items, F each) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ",";
    out += each(items[i]);
  }
  return out;
}

}  // namespace

std::string Render(const EncodableValue& value) {
  switch (value.index()) {
    case 0:
      return "n";
    case 1:
      return std::get<bool>(value) ? "T" : "F";
    case 2:
      return "i" + std::to_string(std::get<int32_t>(value));
    case 3:
      return "l" + std::to_string(std::get<int64_t>(value));
    case 4:
      return "d" + LeHex(std::get<double>(value));
    case 5: {
      const auto& s = std::get<std::string>(value);
      return "s" + ToHex(std::vector<uint8_t>(s.begin(), s.end()));
    }
    case 6: {
      const auto& b = std::get<std::vector<uint8_t>>(value);
      // Long byte lists show their length and first 32 bytes.
      return "u" + std::to_string(b.size()) + ":" +
             ToHex(std::vector<uint8_t>(b.begin(), b.begin() + std::min<size_t>(b.size(), 32)));
    }
    case 7:
      return "I[" +
             Join(std::get<std::vector<int32_t>>(value),
                  [](int32_t v) { return std::to_string(v); }) +
             "]";
    case 8:
      return "L[" +
             Join(std::get<std::vector<int64_t>>(value),
                  [](int64_t v) { return std::to_string(v); }) +
             "]";
    case 9:
      return "D[" + Join(std::get<std::vector<double>>(value), [](double v) { return LeHex(v); }) +
             "]";
    case 10:
      return "[" +
             Join(std::get<EncodableList>(value),
                  [](const EncodableValue& v) { return Render(v); }) +
             "]";
    case 11: {
      std::vector<std::string> entries;
      for (const auto& entry : std::get<EncodableMap>(value)) {
        entries.push_back(Render(entry.first) + ":" + Render(entry.second));
      }
      std::sort(entries.begin(), entries.end());
      return "{" + Join(entries, [](const std::string& s) { return s; }) + "}";
    }
    case 13:
      return "f[" + Join(std::get<std::vector<float>>(value), [](float v) { return LeHex(v); }) +
             "]";
    default:
      return "?";
  }
}

std::vector<uint8_t> Encode(const EncodableValue& value) {
  return *StandardMessageCodec::GetInstance().EncodeMessage(value);
}

EncodableValue Decode(const std::vector<uint8_t>& bytes) {
  return *StandardMessageCodec::GetInstance().DecodeMessage(bytes.data(), bytes.size());
}

}  // namespace vek_native
