// Cost of encoding and decoding the bridge's biggest and most frequent
// messages, as event envelopes (what the event sink sends).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "channels/standard_codec.h"

namespace vek_native {
namespace {

EncodableValue Key(const char* text) { return EncodableValue(text); }

EncodableValue HidInputEvent() {
  std::string path =
      "\\\\?\\hid#vid_046d&pid_c52b&mi_02&col01#8&2a1b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb}";
  path.resize(70, 'x');
  return EncodableValue(EncodableMap{
      {Key("channel"), Key("hidInput")},
      {Key("devicePath"), EncodableValue(path)},
      {Key("timestampUs"), EncodableValue(int64_t{1234567890123})},
      {Key("data"), EncodableValue(std::vector<uint8_t>(64, 0x5A))},
  });
}

EncodableValue MouseEvent(int i) {
  return EncodableValue(EncodableMap{
      {Key("channel"), Key("rawInput")},
      {Key("kind"), Key("mouse")},
      {Key("device"), EncodableValue(int64_t{0x10041 + (i & 3)})},
      {Key("timestampUs"), EncodableValue(int64_t{1234567890123} + i * 1000)},
      {Key("intervalUs"), EncodableValue(int64_t{1000 + (i % 7)})},
      {Key("dx"), EncodableValue(int64_t{i % 5 - 2})},
      {Key("dy"), EncodableValue(int64_t{2 - i % 5})},
      {Key("buttons"), EncodableValue(int64_t{i & 1})},
      {Key("wheel"), EncodableValue(int64_t{0})},
      {Key("flags"), EncodableValue(int64_t{0})},
  });
}

EncodableValue RawInputBatch() {
  EncodableList events;
  for (int i = 0; i < 64; ++i) events.push_back(MouseEvent(i));
  return EncodableValue(EncodableMap{
      {Key("channel"), Key("rawInputBatch")},
      {Key("events"), EncodableValue(std::move(events))},
  });
}

EncodableValue TraceEventList() {
  EncodableList events;
  for (int i = 0; i < 2000; ++i) {
    events.push_back(EncodableValue(EncodableMap{
        {Key("provider"), Key("Microsoft-Windows-USB-UCX")},
        {Key("eventId"), EncodableValue(int64_t{i % 40})},
        {Key("task"), Key("Enumeration")},
        {Key("opcode"), Key("Info")},
        {Key("timestampUs"), EncodableValue(int64_t{1234567890123} + i)},
        {Key("processId"), EncodableValue(int64_t{4})},
        {Key("threadId"), EncodableValue(int64_t{1200 + i % 3})},
        {Key("summary"), Key("GetDescriptor DEVICE length 18")},
    }));
  }
  return EncodableValue(std::move(events));
}

void Encode(benchmark::State& state, const EncodableValue& value) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  size_t bytes = 0;
  for (auto _ : state) {
    auto encoded = codec.EncodeSuccessEnvelope(&value);
    bytes = encoded->size();
    benchmark::DoNotOptimize(encoded->data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

void Decode(benchmark::State& state, const EncodableValue& value) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  auto encoded = codec.EncodeSuccessEnvelope(&value);
  for (auto _ : state) {
    EncodableValue result;
    bool ok = codec.DecodeResponseEnvelope(encoded->data(), encoded->size(), &result, nullptr,
                                           nullptr, nullptr);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(result);
  }
  state.counters["bytes"] = static_cast<double>(encoded->size());
}

void BM_EncodeHidInput(benchmark::State& state) { Encode(state, HidInputEvent()); }
void BM_DecodeHidInput(benchmark::State& state) { Decode(state, HidInputEvent()); }
void BM_EncodeRawInputBatch64(benchmark::State& state) { Encode(state, RawInputBatch()); }
void BM_DecodeRawInputBatch64(benchmark::State& state) { Decode(state, RawInputBatch()); }
void BM_EncodeTraceEvents2000(benchmark::State& state) { Encode(state, TraceEventList()); }
void BM_DecodeTraceEvents2000(benchmark::State& state) { Decode(state, TraceEventList()); }

BENCHMARK(BM_EncodeHidInput);
BENCHMARK(BM_DecodeHidInput);
BENCHMARK(BM_EncodeRawInputBatch64);
BENCHMARK(BM_DecodeRawInputBatch64);
BENCHMARK(BM_EncodeTraceEvents2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeTraceEvents2000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vek_native

BENCHMARK_MAIN();
